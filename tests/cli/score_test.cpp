// `shardix score` against recoveries with a known answer: files copied out of
// a scenario image whole, in part, not at all, and strangers; then foremost's
// own recovery of the contiguous carving example.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>
#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

int Shardix(const std::string& words, std::string* out) {
  return RunCommandStatus(std::string(SHARDIX_CLI) + " " + words, out);
}

// Builds `recipe` (text) as DIR/NAME.img; its manifest parsed.
Json Build(const std::string& dir, const std::string& name, const std::string& recipe) {
  const std::string recipe_path = dir + "/" + name + ".json";
  std::ofstream(recipe_path) << recipe;
  std::string out;
  EXPECT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe_path) + " " + ShellQuote(dir + "/" + name + ".img"), &out), 0)
      << out;
  return Json::parse(ReadText(dir + "/" + name + ".img.manifest.json"), nullptr, false);
}

// The bytes of a manifest file as its runs hold them in the image.
std::vector<uint8_t> FileBytes(const std::string& image, const Json& manifest, const std::string& path) {
  const std::vector<uint8_t> all = ReadHostFile(image);
  const uint64_t cluster = manifest.at("cluster_size").get<uint64_t>();
  for (const Json& file : manifest.at("files")) {
    if (file.at("path") != path || file.at("stream") != "") continue;
    std::vector<uint8_t> bytes;
    for (const Json& run : file.at("runs")) {
      const uint64_t first = run.at("first_cluster").get<uint64_t>() * cluster;
      bytes.insert(bytes.end(), all.begin() + first, all.begin() + first + run.at("clusters").get<uint64_t>() * cluster);
    }
    bytes.resize(file.at("size").get<uint64_t>());
    return bytes;
  }
  ADD_FAILURE() << path << " is not in the manifest";
  return {};
}

Json ScoreJson(const std::string& manifest, const std::string& folder) {
  std::string out;
  EXPECT_EQ(Shardix("score --json " + ShellQuote(manifest) + " " + ShellQuote(folder), &out), 0) << out;
  return Json::parse(out, nullptr, false);
}

std::map<std::string, Json> ByPath(const Json& score) {
  std::map<std::string, Json> files;
  for (const Json& file : score.at("files")) files[file.at("path").get<std::string>()] = file;
  return files;
}

TEST(Score, GradesWholePartialMissedAndStrangers) {
  ScratchDir scratch;
  const std::string dir = scratch.path();
  const Json manifest = Build(dir, "made", R"({"volume": {"size": "8M"}, "seed": 7, "steps": [
      {"op": "create", "path": "/a.bin", "size": 32768},
      {"op": "create", "path": "/a.bin", "stream": "extra", "size": 5000},
      {"op": "create", "path": "/b.bin", "size": 32768},
      {"op": "create", "path": "/c.bin", "size": 20000},
      {"op": "create", "path": "/gone.bin", "size": 12288},
      {"op": "create", "path": "/empty.txt", "size": 0},
      {"op": "delete", "path": "/gone.bin"}]})");
  ASSERT_FALSE(manifest.is_discarded());
  const std::string image = dir + "/made.img", out = dir + "/out";
  fs::create_directories(out + "/sub");
  ASSERT_TRUE(WriteWholeFile(out + "/a-copy", FileBytes(image, manifest, "/a.bin")));
  ASSERT_TRUE(WriteWholeFile(out + "/sub/gone", FileBytes(image, manifest, "/gone.bin")));
  // Half of b's clusters, each at a cluster-aligned offset, out of their order.
  const std::vector<uint8_t> b = FileBytes(image, manifest, "/b.bin");
  std::vector<uint8_t> half(b.begin() + 6 * 4096, b.end());
  half.insert(half.end(), b.begin(), b.begin() + 2 * 4096);
  ASSERT_TRUE(WriteWholeFile(out + "/sub/b-half", half));
  ASSERT_TRUE(WriteWholeFile(out + "/stranger-\xff.bin", PseudoRandomBytes(10000, 99)));
  ASSERT_TRUE(WriteWholeFile(out + "/empty", {}));
  fs::create_symlink(out + "/a-copy", out + "/sub/link");  // not followed, not counted twice

  const std::string manifest_path = image + ".manifest.json";
  const Json score = ScoreJson(manifest_path, out);
  ASSERT_FALSE(score.is_discarded());
  // Python's json reads it whole, and python3-jsonschema finds it as documented.
  bool valid = false;
  RunCommand(std::string(SHARDIX_CLI) + " score --json " + ShellQuote(manifest_path) + " " + ShellQuote(out) + " > " +
                 ShellQuote(dir + "/score.json"), &valid);
  ASSERT_TRUE(valid);
  const std::string errors = RunCommand("python3 " SHARDIX_SOURCE_DIR "/tests/cli/manifest_check.py " SHARDIX_SOURCE_DIR
                                        "/docs/score.schema.json " + ShellQuote(dir + "/score.json"), &valid);
  EXPECT_TRUE(valid) << errors;

  std::map<std::string, Json> files = ByPath(score);
  ASSERT_EQ(files.size(), 4u);  // not the empty file, not the named stream
  EXPECT_EQ(files["/a.bin"].at("verdict"), "whole");
  EXPECT_EQ(files["/a.bin"].at("recovered_as"), Json::array({"a-copy"}));
  EXPECT_EQ(files["/b.bin"].at("verdict"), "partial");
  EXPECT_DOUBLE_EQ(files["/b.bin"].at("fraction").get<double>(), 0.5);
  EXPECT_EQ(files["/b.bin"].at("recovered_as"), Json::array({"sub/b-half"}));
  EXPECT_EQ(files["/c.bin"].at("verdict"), "missed");
  EXPECT_EQ(files["/gone.bin"].at("verdict"), "whole");
  EXPECT_EQ(files["/gone.bin"].at("state"), "deleted");

  const Json& summary = score.at("summary");
  EXPECT_EQ(summary.at("whole"), 2);
  EXPECT_EQ(summary.at("partial"), 1);
  EXPECT_EQ(summary.at("missed"), 1);
  EXPECT_EQ(summary.at("false_positives"), 1);
  EXPECT_EQ(summary.at("recovered"), 4);
  EXPECT_EQ(summary.at("empty_recovered_ignored"), 1);
  EXPECT_EQ(summary.at("manifest_not_graded"), 2);
  EXPECT_EQ(summary.at("by_state").at("deleted").at("whole"), 1);
  EXPECT_EQ(summary.at("by_layout").at("contiguous").at("files"), 4);
  for (const Json& recovered : score.at("recovered"))
    if (recovered.at("verdict") == "none") {
      EXPECT_EQ(recovered.at("path_hex"), "737472616e6765722dff2e62696e");
    }

  std::string text;
  ASSERT_EQ(Shardix("score " + ShellQuote(manifest_path) + " " + ShellQuote(out), &text), 0);
  EXPECT_NE(text.find("/b.bin     contiguous  allocated  partial  50%    sub/b-half"), std::string::npos) << text;
  EXPECT_NE(text.find("Summary: 4 files: 2 whole, 1 partial, 1 missed; false positives: 1 of 4 recovered files"),
            std::string::npos) << text;

  // Failures name the path and say why; a changed image is not scored.
  EXPECT_EQ(Shardix("score " + ShellQuote(manifest_path) + " " + ShellQuote(dir + "/nowhere"), &text), 1);
  EXPECT_EQ(text, "shardix: cannot open " + dir + "/nowhere: No such file or directory\n");
  // With --json the failure is data too, with the same words.
  EXPECT_EQ(RunCommandStatus("{ " + std::string(SHARDIX_CLI) + " score --json " + ShellQuote(manifest_path) + " " +
                                 ShellQuote(dir + "/nowhere") + " 2>/dev/null; }", &text), 1);
  const Json failure = Json::parse(text);
  EXPECT_FALSE(failure.at("ok").get<bool>());
  EXPECT_EQ(failure.at("error").at("message"), "cannot open " + dir + "/nowhere: No such file or directory");
  EXPECT_EQ(Shardix("score " + ShellQuote(manifest_path), &text), 2);
  EXPECT_EQ(text.rfind("shardix score: ", 0), 0u) << text;
  const uint64_t a_first = manifest.at("files")[0].at("runs")[0].at("first_cluster").get<uint64_t>();
  ASSERT_TRUE(WriteHostBytes(image, a_first * 4096 + 100, {0x5A}));
  EXPECT_EQ(Shardix("score " + ShellQuote(manifest_path) + " " + ShellQuote(out), &text), 1);
  EXPECT_NE(text.find("does not hold /a.bin as the manifest says"), std::string::npos) << text;
  fs::rename(image, dir + "/moved.img");
  EXPECT_EQ(Shardix("score " + ShellQuote(manifest_path) + " " + ShellQuote(out), &text), 1);
  EXPECT_EQ(text, "shardix: cannot open " + image + ": No such file or directory\n");
}

// Layouts as the carving examples' manifests give them; the clusters an
// overwriting file took are its bytes, not the overwritten file's.
TEST(Score, LayoutsOfTheCarvingExamplesAndOverwrittenClusters) {
  ScratchDir scratch;
  const std::string dir = scratch.path();
  std::map<std::string, std::string> layouts;
  Json missing;
  for (const char* name : {"carve-3-nonsequential", "carve-4-missing", "carve-5-nested", "carve-6-braided"}) {
    const Json manifest = Build(dir, name, ReadText(std::string(SHARDIX_EXAMPLES) + "/" + name + ".json"));
    fs::create_directories(dir + "/out-" + name);
    const Json score = ScoreJson(dir + "/" + name + ".img.manifest.json", dir + "/out-" + name);
    for (const Json& file : score.at("files")) layouts[file.at("path")] = file.at("layout");
    if (std::string(name) == "carve-4-missing") {
      // The overwriting file with a stranger's cluster after it: all of it, not equal to it.
      std::vector<uint8_t> part = FileBytes(dir + "/" + name + ".img", manifest, "/backup/part.bin");
      const std::vector<uint8_t> stranger = PseudoRandomBytes(4096, 5);
      part.insert(part.end(), stranger.begin(), stranger.end());
      ASSERT_TRUE(WriteWholeFile(dir + "/out-" + name + "/part.bin", part));
      missing = ScoreJson(dir + "/" + name + ".img.manifest.json", dir + "/out-" + name);
    }
  }
  EXPECT_EQ(layouts["/DCIM/IMG_0201.jpg"], "out-of-order");
  EXPECT_EQ(layouts["/DCIM/IMG_0301.jpg"], "missing-pieces");
  EXPECT_EQ(layouts["/DCIM/IMG_0303.jpg"], "contiguous");
  EXPECT_EQ(layouts["/DCIM/IMG_0401.jpg"], "nested");
  EXPECT_EQ(layouts["/DCIM/IMG_0402.png"], "nested");
  EXPECT_EQ(layouts["/DCIM/IMG_0501.jpg"], "braided");
  std::map<std::string, Json> files = ByPath(missing);
  EXPECT_EQ(files["/backup/part.bin"].at("verdict"), "partial");
  EXPECT_DOUBLE_EQ(files["/backup/part.bin"].at("fraction").get<double>(), 1.0);
  EXPECT_EQ(files["/DCIM/IMG_0301.jpg"].at("verdict"), "missed");
  EXPECT_EQ(files["/DCIM/IMG_0301.jpg"].at("state"), "overwritten");
}

// foremost finds every picture of the contiguous example byte for byte.
TEST(Score, ForemostRecoversEveryContiguousPictureWhole) {
  ScratchDir scratch;
  const std::string dir = scratch.path(), name = "carve-1-contiguous";
  Build(dir, name, ReadText(std::string(SHARDIX_EXAMPLES) + "/" + name + ".json"));
  bool ok = false;
  const std::string log = RunCommand("foremost -Q -t jpg,png -i " + ShellQuote(dir + "/" + name + ".img") + " -o " +
                                         ShellQuote(dir + "/foremost"), &ok);
  ASSERT_TRUE(ok) << log;
  const Json score = ScoreJson(dir + "/" + name + ".img.manifest.json", dir + "/foremost");
  int pictures = 0;
  for (const Json& file : score.at("files")) {
    const std::string path = file.at("path");
    if (path.find(".jpg") == std::string::npos && path.find(".png") == std::string::npos) continue;
    ++pictures;
    EXPECT_EQ(file.at("verdict"), "whole") << path;
  }
  EXPECT_EQ(pictures, 5);
}

}  // namespace
}  // namespace shardix::test
