// Recipes checked whole before anything is made, host files kept inside the
// recipe's folder, images that appear at OUT.img only when whole, and
// pictures that decoders and carvers we did not write accept byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

namespace fs = std::filesystem;

// Runs shardix (under `timeout`, so a hang fails instead of stalling); its
// exit status, and stdout and stderr together in *out.
int Shardix(const std::string& words, std::string* out) {
  return RunCommandStatus("timeout 60 " + std::string(SHARDIX_CLI) + " " + words, out);
}

// Everything in `folder` but the recipe and host files the test put there.
std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().rfind("out.img", 0) == 0) names.push_back(entry.path().filename());
  return names;
}

constexpr const char* kHead = R"({"volume": {"size": "8M"}, "seed": 1, "steps": [)";
std::string Steps(const std::string& steps) { return kHead + steps + "]}"; }
const std::string kFileA = R"({"op": "create", "path": "/a", "size": 40960})";

TEST(RecipeCheck, RefusesEachFaultNamingItsPlaceAndMakesNothing) {
  ScratchDir scratch;
  const std::string recipe = scratch.path() + "/recipe.json", image = scratch.path() + "/out.img";
  const struct {
    std::string text;
    const char* complaint;
  } kBad[] = {
      // Keys and types.
      {R"({"volume": {"size": "8M", "clustersize": 512}, "seed": 1, "steps": []})",
       "volume.clustersize: unknown key"},
      {Steps(kFileA + R"(, {"op": "fragment", "path": "/a", "count": 2, "methd": "random"})"),
       "steps[1].methd: unknown key"},
      {Steps(R"({"op": "create", "path": "/a", "size": true})"), "steps[0].size: takes bytes"},
      {Steps(R"({"op": "create", "path": "/a", "size": 10, "pattern": "x"})"), "steps[0].pattern: goes with"},
      {Steps(R"({"op": "shred"})"), "steps[0].op: unknown op"},
      {Steps(R"({"op": "create", "path": "x", "size": 1})"), "steps[0].path: \"x\" is not a path"},
      {Steps(R"({"op": "create", "path": "/a/../b", "size": 1})"), "steps[0].path: \"/a/../b\" is not a path"},
      {Steps(R"({"op": "folder", "path": "/$MFT/x"})"), "steps[0].path: \"/$MFT/x\" is not a path"},
      {R"({"volume": {"size": "16M", "cluster_size": 3000}, "seed": 1, "steps": []})", "volume.cluster_size"},
      {R"({"volume": {"size": "8M"}, "steps": []})", "seed: is required"},
      // Numbers past their range, or past 2^64.
      {R"({"volume": {"size": "8M"}, "seed": 18446744073709551616, "steps": []})", "seed: takes a whole number"},
      {R"({"volume": {"size": "8M"}, "seed": 1, "time": 99999999999999, "steps": []})", "time: takes whole seconds"},
      {Steps(kFileA + R"(, {"op": "fragment", "path": "/a", "count": 0})"), "steps[1].count: takes a whole number from 1"},
      {Steps(kFileA + R"(, {"op": "layout", "arrange": ["/a", {"gap": 18446744073709551615}]})"),
       "steps[1].arrange[1].gap: takes a whole number from 1 to 4294967295"},
      {Steps(R"({"op": "create", "path": "/s", "size": 4096, "data": [[18446744073709551615, 2]]})"),
       "steps[0].data[0]: ranges must be in order"},
      {Steps(R"({"op": "age", "folder": "/x", "files": 9, "max_size": 18446744073709551615})"),
       "steps[0].max_size: cannot fit"},
      // References to what earlier steps do not make.
      {Steps(R"({"op": "delete", "path": "/never"})"), "steps[0].path: /never is not a file that an earlier step makes"},
      {Steps(kFileA + R"(, {"op": "layout", "split": {"/a": 2}, "arrange": ["/a#3"]})"),
       "steps[1].arrange[0]: /a has 2 pieces, not 3"},
      {Steps(kFileA + R"(, {"op": "layout", "arrange": ["/b"]})"), "steps[1].arrange[0]: /b is not a file"},
      {Steps(kFileA + R"(, {"op": "layout", "split": {"/a": [4, 4]}, "arrange": ["/a#1"]})"),
       "steps[1].split[\"/a\"]: the pieces come to 8 clusters; /a has 10"},
      {Steps(kFileA + R"(, {"op": "layout", "arrange": ["/a", "/a#1"]})"), "steps[1].arrange[1]: piece 1 of /a is placed twice"},
      {Steps(kFileA + ", " + kFileA), "steps[1].path: /a is made by an earlier step already"},
      {Steps(kFileA + R"(, {"op": "create", "path": "/a/b", "size": 1})"), "steps[1].path: /a is a file"},
      {Steps(kFileA + R"(, {"op": "overwrite", "path": "/b", "deleted": "/a", "pieces": [1]})"),
       "steps[1].deleted: /a is not deleted"},
      {Steps(R"({"op": "create", "path": "/b", "size": 900, "reuse_record_of": "/a"})"),
       "steps[0].reuse_record_of: /a is not a file an earlier step deletes"},
      {Steps(kFileA + R"(, {"op": "delete", "path": "/a"}, {"op": "fragment", "path": "/a", "count": 2})"),
       "steps[2].path: /a was deleted by an earlier step"},
      // Sizes that cannot fit.
      {Steps(R"({"op": "create", "path": "/big", "size": "9M"})"), "steps[0].size: the files made so far need"},
      {Steps(kFileA + R"(, {"op": "layout", "arrange": ["/a", {"gap": 4000}]})"), "steps[1].arrange[1]: the arrangement needs"},
      {Steps(kFileA + R"(, {"op": "fragment", "path": "/a", "count": 11})"), "steps[1].count: /a has 10 clusters"},
      {Steps(R"({"op": "create", "path": "/p.jpg", "size": 1023, "content": "jpeg"})"),
       "steps[0].size: a jpeg picture needs at least 1024 bytes"},
      {Steps(R"({"op": "create", "path": "/p.png", "size": 127, "content": "png"})"),
       "steps[0].size: a png picture needs at least 128 bytes"},
      // JSON that nlohmann-json alone would take, and JSON it refuses.
      {R"({"volume": {"size": "8M", "size": "16M"}, "seed": 1, "steps": []})", "volume.size: the key appears twice"},
      {R"({"volume": {"size": "8M"}, "seed": 01, "steps": []})", "not JSON: parse error at line 1, column"},
      {R"({"volume": {"size": "8M", "label": "\uD800\u0041"}, "seed": 1, "steps": []})", "not JSON"},
      {R"({"volume": {"size": "8M", "label": "\uDC00"}, "seed": 1, "steps": []})", "not JSON"},
      {"{\"volume\": {\"size\": \"8M\", \"label\": \"\xC0\xAF\"}, \"seed\": 1, \"steps\": []}", "not JSON"},
      {R"({"volume": {"size": "8M"}, "seed": 1, "steps": [)", "not JSON: parse error at line 1, column"},
  };
  for (const auto& bad : kBad) {
    SCOPED_TRACE(bad.text);
    std::ofstream(recipe, std::ios::trunc) << bad.text;
    std::string out;
    EXPECT_EQ(Shardix("scenario " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 2) << out;
    EXPECT_NE(out.find(bad.complaint), std::string::npos) << out;
    EXPECT_TRUE(Leftovers(scratch.path()).empty());
  }
  // A recipe that cannot be read is refused the same way.
  std::string out;
  EXPECT_EQ(Shardix("scenario " + ShellQuote(scratch.path()) + " " + ShellQuote(image), &out), 2) << out;
  EXPECT_EQ(Shardix("scenario " + ShellQuote(scratch.path() + "/none.json") + " " + ShellQuote(image), &out), 2);
  EXPECT_TRUE(Leftovers(scratch.path()).empty());
}

// Host files: regular files inside the recipe's folder; with
// --allow-host-path anywhere, but still only regular files.
TEST(RecipeCheck, HostFilesAreRegularFilesInsideTheRecipesFolder) {
  ScratchDir scratch;
  const std::string folder = scratch.path() + "/recipes", image = folder + "/out.img";
  fs::create_directories(folder + "/sub");
  std::ofstream(folder + "/sub/inside.bin") << "kept bytes";
  std::ofstream(scratch.path() + "/outside.bin") << "secret";
  ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
  fs::create_symlink("../outside.bin", folder + "/link.bin");
  auto write = [&](const std::string& host) {
    std::ofstream(folder + "/recipe.json", std::ios::trunc)
        << Steps(R"({"op": "create", "path": "/h", "content": "host", "host": ")" + host + "\"}");
    return ShellQuote(folder + "/recipe.json") + " " + ShellQuote(image);
  };
  const struct {
    std::string host;
    bool allow;
    const char* complaint;
  } kRefused[] = {
      {"../outside.bin", false, "is outside the recipe's folder"},
      {scratch.path() + "/outside.bin", false, "is outside the recipe's folder"},
      {"link.bin", false, "is outside the recipe's folder"},
      {"/dev/zero", false, "is outside the recipe's folder"},
      {"fifo", false, "not a regular file"},
      {"sub", false, "not a regular file"},
      {"/dev/zero", true, "not a regular file"},
      {folder + "/fifo", true, "not a regular file"},
  };
  for (const auto& bad : kRefused) {
    SCOPED_TRACE(bad.host);
    std::string out;
    EXPECT_EQ(Shardix(std::string("scenario ") + (bad.allow ? "--allow-host-path " : "") + write(bad.host), &out), 2)
        << out;
    EXPECT_NE(out.find("steps[0].host: "), std::string::npos) << out;
    EXPECT_NE(out.find(bad.complaint), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(image));
  }
  std::string out;
  ASSERT_EQ(Shardix("scenario --quiet " + write("sub/inside.bin"), &out), 0) << out;
  bool ok = false;
  EXPECT_EQ(RunCommand("ntfscat " + ShellQuote(image) + " /h", &ok), "kept bytes");
  ASSERT_EQ(Shardix("scenario --quiet --force --allow-host-path " + write("../outside.bin"), &out), 0) << out;
  EXPECT_EQ(RunCommand("ntfscat " + ShellQuote(image) + " /h", &ok), "secret");
}

// The image takes the name OUT.img only when whole: a build that fails (here a
// volume too full for the file) leaves nothing new, and an earlier image
// replaced with --force stays as it was.
TEST(ScenarioOutput, AFailedBuildLeavesNothingAtOutImg) {
  ScratchDir scratch;
  const std::string recipe = scratch.path() + "/recipe.json", image = scratch.path() + "/out.img";
  std::ofstream(recipe) << Steps(R"({"op": "create", "path": "/fills", "size": 8200000})");
  std::string out;
  EXPECT_EQ(Shardix("scenario " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 1) << out;
  EXPECT_NE(out.find("Nothing was made at"), std::string::npos) << out;
  EXPECT_TRUE(Leftovers(scratch.path()).empty());

  std::ofstream(image) << "precious";
  std::ofstream(image + ".manifest.json") << "{}";
  EXPECT_EQ(Shardix("scenario --force " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 1) << out;
  EXPECT_EQ(ReadText(image), "precious");
  EXPECT_EQ(ReadText(image + ".manifest.json"), "{}");
  EXPECT_EQ(Leftovers(scratch.path()).size(), 2u);
}

// Pictures at the smallest sizes, at sizes whose padding is one to three
// bytes past a picture, and past the largest picture: djpeg and pngcheck
// accept each whole, and foremost carves the contiguous ones byte for byte
// (a file held in its MFT record does not start on a sector: no carver
// finds it).
TEST(ScenarioPictures, DecodeWholeAndCarveByteForByte) {
  bool ok = false;
  RunCommand("command -v djpeg pngcheck foremost", &ok);
  if (!ok) GTEST_SKIP() << "djpeg, pngcheck or foremost is not installed (scripts/setup-deps.sh native)";
  ScratchDir scratch;
  const std::string recipe = scratch.path() + "/recipe.json", image = scratch.path() + "/out.img";
  const std::vector<std::pair<std::string, uint64_t>> kPictures = {
      {"/a.jpg", 1024},  {"/b.jpg", 1025},  {"/c.jpg", 1027}, {"/d.jpg", 65541}, {"/e.jpg", 2300000},
      {"/f.png", 128},   {"/g.png", 139},   {"/h.png", 65549}, {"/i.png", 2300000}};
  std::string steps;
  for (const auto& [path, size] : kPictures)
    steps += std::string(steps.empty() ? "" : ", ") + R"({"op": "create", "path": ")" + path + R"(", "size": )" +
             std::to_string(size) + R"(, "content": ")" + (path.ends_with(".jpg") ? "jpeg" : "png") + "\"}";
  std::ofstream(recipe) << R"({"volume": {"size": "16M"}, "seed": 7, "steps": [)" << steps << "]}";
  std::string out;
  ASSERT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 0) << out;
  const auto manifest = nlohmann::json::parse(ReadText(image + ".manifest.json"));
  std::set<std::string> contiguous;
  for (const auto& file : manifest["files"])
    if (file["runs"].size() == 1) contiguous.insert(file["sha256"].get<std::string>());
  std::set<std::string> sums;
  for (const auto& [path, size] : kPictures) {
    SCOPED_TRACE(path);
    const std::string file = scratch.path() + path;
    RunCommand("ntfscat " + ShellQuote(image) + " " + path + " > " + ShellQuote(file), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(fs::file_size(file), size);
    const std::string check = path.ends_with(".jpg") ? "djpeg -outfile /dev/null " : "pngcheck -q ";
    // djpeg warns on stderr about damaged data but still exits 0: no output at all is the pass.
    EXPECT_EQ(RunCommand(check + ShellQuote(file) + " 2>&1", &ok), "");
    EXPECT_TRUE(ok);
    const std::string sum = RunCommand("sha256sum < " + ShellQuote(file), &ok).substr(0, 64);
    if (contiguous.count(sum)) sums.insert(sum);
  }
  EXPECT_EQ(sums.size(), kPictures.size() - 2) << "only the two smallest pngs stay in their records";
  const std::string carved = scratch.path() + "/carved";
  RunCommand("foremost -q -t jpg,png -i " + ShellQuote(image) + " -o " + ShellQuote(carved) + " >/dev/null 2>&1", &ok);
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(carved))
    if (entry.is_regular_file() && entry.path().extension() != ".txt")
      found.insert(RunCommand("sha256sum < " + ShellQuote(entry.path()), &ok).substr(0, 64));
  for (const std::string& sum : sums) EXPECT_TRUE(found.count(sum)) << "foremost did not recover " << sum;
}

}  // namespace
}  // namespace shardix::test
