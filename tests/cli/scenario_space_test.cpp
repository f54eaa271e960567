// What a scenario image holds outside its files: moves leave no copy behind
// unless asked to and then say where, an overwrite changes only the runs it
// names, --verify finds a changed byte anywhere and names the place, and the
// manifest is JSON that other readers take back exactly.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "scenario/manifest.h"
#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

using Json = nlohmann::json;

int Shardix(const std::string& words, std::string* out) {
  return RunCommandStatus(std::string(SHARDIX_CLI) + " " + words, out);
}

struct Built {
  std::string image;
  Json manifest;
  std::vector<uint8_t> bytes;
  uint64_t cluster_size = 0;
  const Json* File(const std::string& path) const {
    for (const Json& file : manifest["files"])
      if (file["path"] == path && file["stream"] == "") return &file;
    return nullptr;
  }
  const uint8_t* Cluster(int64_t lcn) const { return bytes.data() + lcn * cluster_size; }
};

void Build(const ScratchDir& scratch, const std::string& name, const std::string& recipe, Built* built) {
  const std::string recipe_path = scratch.path() + "/" + name + ".json";
  std::ofstream(recipe_path) << recipe;
  built->image = scratch.path() + "/" + name + ".img";
  std::string out;
  ASSERT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe_path) + " " + ShellQuote(built->image), &out), 0)
      << out;
  built->manifest = Json::parse(ReadText(built->image + ".manifest.json"));
  built->bytes = ReadHostFile(built->image);
  built->cluster_size = built->manifest["cluster_size"];
}

// Every cluster a file's data fills whole, by its first cluster number.
std::vector<int64_t> DataClusters(const Json& file, uint64_t cluster_size) {
  std::vector<int64_t> clusters;
  const uint64_t whole = file["size"].get<uint64_t>() / cluster_size;
  for (const Json& run : file["runs"])
    for (uint64_t k = 0; k < run["clusters"].get<uint64_t>() && clusters.size() < whole; ++k)
      clusters.push_back(run["first_cluster"].get<int64_t>() + static_cast<int64_t>(k));
  return clusters;
}

// The clusters of the image outside `file`'s runs that hold one of its clusters.
std::set<int64_t> CopiesElsewhere(const Built& built, const Json& file) {
  const std::vector<int64_t> own = DataClusters(file, built.cluster_size);
  std::map<std::string, int64_t> blocks;
  for (int64_t lcn : own) blocks[std::string(reinterpret_cast<const char*>(built.Cluster(lcn)), built.cluster_size)] = lcn;
  const std::set<int64_t> mine(own.begin(), own.end());
  std::set<int64_t> copies;
  const auto count = static_cast<int64_t>(built.bytes.size() / built.cluster_size);
  for (int64_t lcn = 0; lcn < count; ++lcn)
    if (!mine.count(lcn) &&
        blocks.count(std::string(reinterpret_cast<const char*>(built.Cluster(lcn)), built.cluster_size)))
      copies.insert(lcn);
  return copies;
}

const char kMovingRecipe[] =
    "{\"volume\": {\"size\": \"16M\"%s}, \"seed\": 7, \"steps\": ["
    "{\"op\": \"create\", \"path\": \"/a.bin\", \"size\": 200000},"
    "{\"op\": \"create\", \"path\": \"/b.bin\", \"size\": 300000},"
    "{\"op\": \"layout\", \"split\": {\"/a.bin\": 3},"
    " \"arrange\": [\"/a.bin#3\", {\"gap\": 2}, \"/a.bin#1\", {\"gap\": 5}, \"/a.bin#2\"]},"
    "{\"op\": \"fragment\", \"path\": \"/b.bin\", \"count\": 6, \"method\": \"scattered\", \"seed\": 4}]}";

std::string MovingRecipe(const char* volume_extra) {
  char text[1024];
  std::snprintf(text, sizeof text, kMovingRecipe, volume_extra);
  return text;
}

TEST(ScenarioSpace, MovesLeaveNoCopyOfAFileInFreeSpace) {
  ScratchDir scratch;
  Built built;
  ASSERT_NO_FATAL_FAILURE(Build(scratch, "zero", MovingRecipe(""), &built));
  for (const char* path : {"/a.bin", "/b.bin"}) {
    SCOPED_TRACE(path);
    const Json* file = built.File(path);
    ASSERT_NE(file, nullptr);
    ASSERT_GT(file->at("runs").size(), 1u) << "the file was not split";
    EXPECT_EQ(CopiesElsewhere(built, *file), std::set<int64_t>{});
  }
  EXPECT_EQ(built.manifest["remnants"].size(), 0u);
  EXPECT_EQ(built.manifest["free_space"]["data_clusters"], 0u) << "free space holds bytes nothing accounts for";
}

TEST(ScenarioSpace, KeptCopiesAreListedAsRemnants) {
  ScratchDir scratch;
  Built built;
  ASSERT_NO_FATAL_FAILURE(Build(scratch, "keep", MovingRecipe(", \"freed\": \"keep\""), &built));
  std::map<int64_t, std::string> remnant_of;  // cluster -> path
  uint64_t remnant_clusters = 0;
  for (const Json& remnant : built.manifest["remnants"]) {
    EXPECT_EQ(remnant["why"].get<std::string>().rfind("copy left behind when", 0), 0u) << remnant.dump();
    for (uint64_t k = 0; k < remnant["clusters"].get<uint64_t>(); ++k)
      remnant_of[remnant["first_cluster"].get<int64_t>() + static_cast<int64_t>(k)] = remnant["path"];
    remnant_clusters += remnant["clusters"].get<uint64_t>();
  }
  EXPECT_EQ(built.manifest["free_space"]["data_clusters"], remnant_clusters);
  for (const char* path : {"/a.bin", "/b.bin"}) {
    SCOPED_TRACE(path);
    const std::set<int64_t> copies = CopiesElsewhere(built, *built.File(path));
    EXPECT_FALSE(copies.empty()) << "\"keep\" kept nothing";
    for (int64_t lcn : copies) EXPECT_EQ(remnant_of[lcn], path) << "cluster " << lcn << " is not listed";
  }
}

TEST(ScenarioSpace, DeletedFilesLeftOutOfTheListAreRemnants) {
  ScratchDir scratch;
  Built built;
  ASSERT_NO_FATAL_FAILURE(Build(scratch, "unlisted",
                                "{\"volume\": {\"size\": \"16M\"}, \"seed\": 11, \"steps\": ["
                                "{\"op\": \"age\", \"folder\": \"/aged\", \"files\": 40, \"min_size\": 5000,"
                                " \"max_size\": 20000, \"delete_percent\": 50, \"list\": false}]}",
                                &built));
  EXPECT_TRUE(built.manifest["files"].empty());
  uint64_t clusters = 0;
  for (const Json& remnant : built.manifest["remnants"]) {
    EXPECT_EQ(remnant["why"], "deleted file the manifest does not list");
    EXPECT_EQ(remnant["path"].get<std::string>().rfind("/aged/", 0), 0u);
    clusters += remnant["clusters"].get<uint64_t>();
  }
  EXPECT_GT(clusters, 0u);
  EXPECT_EQ(built.manifest["free_space"]["data_clusters"], clusters);
}

TEST(ScenarioSpace, OverwriteChangesOnlyTheRunsItNames) {
  ScratchDir scratch;
  Built built;
  // /keep.bin lies in the first free clusters once deleted; the overwrites
  // cover runs of /v.bin, the second two of them in reverse order.
  ASSERT_NO_FATAL_FAILURE(Build(scratch, "overwrite",
                                "{\"volume\": {\"size\": \"16M\"}, \"seed\": 9, \"steps\": ["
                                "{\"op\": \"create\", \"path\": \"/keep.bin\", \"size\": 40000},"
                                "{\"op\": \"create\", \"path\": \"/v.bin\", \"size\": 120000},"
                                "{\"op\": \"layout\", \"split\": {\"/v.bin\": [10, 10, 10]},"
                                " \"arrange\": [\"/v.bin#1\", {\"gap\": 3}, \"/v.bin#2\", {\"gap\": 3}, \"/v.bin#3\"]},"
                                "{\"op\": \"delete\", \"path\": \"/keep.bin\"},"
                                "{\"op\": \"delete\", \"path\": \"/v.bin\"},"
                                "{\"op\": \"overwrite\", \"path\": \"/n1.bin\", \"deleted\": \"/v.bin\", \"pieces\": [2]},"
                                "{\"op\": \"overwrite\", \"path\": \"/n2.bin\", \"deleted\": \"/v.bin\", \"pieces\": [3, 1]}]}",
                                &built));
  const Json& keep = *built.File("/keep.bin");
  EXPECT_EQ(keep["state"], "deleted");
  // Its clusters still hold it, as The Sleuth Kit reads them.
  bool ok = false;
  const std::string icat = RunCommand("icat " + ShellQuote(built.image) + " " +
                                      std::to_string(keep["mft_record"].get<uint64_t>()) + " | sha256sum", &ok);
  EXPECT_EQ(icat.substr(0, 64), keep["sha256"].get<std::string>());
  const Json& v = *built.File("/v.bin");
  const auto run = [&](const Json& file, std::size_t n) {
    return std::make_pair(file["runs"][n]["first_cluster"].get<int64_t>(), file["runs"][n]["clusters"].get<uint64_t>());
  };
  ASSERT_EQ(v["runs"].size(), 3u);
  ASSERT_EQ(built.File("/n1.bin")->at("runs").size(), 1u);
  EXPECT_EQ(run(*built.File("/n1.bin"), 0), run(v, 1));
  ASSERT_EQ(built.File("/n2.bin")->at("runs").size(), 2u);
  EXPECT_EQ(run(*built.File("/n2.bin"), 0), run(v, 2));
  EXPECT_EQ(run(*built.File("/n2.bin"), 1), run(v, 0));
  // Nothing else in free space holds bytes: no stay of the new files.
  EXPECT_EQ(built.manifest["free_space"]["data_clusters"], run(keep, 0).second);
}

// Flips one byte of the image, runs --verify, flips it back.
std::string VerifyWithByteChanged(const Built& built, uint64_t at, int* status) {
  const uint8_t old = built.bytes.at(at);
  EXPECT_TRUE(WriteHostBytes(built.image, at, {static_cast<uint8_t>(old ^ 0x5A)}));
  std::string out;
  *status = Shardix("scenario --verify " + ShellQuote(built.image + ".manifest.json") + " " +
                        ShellQuote(built.image), &out);
  EXPECT_TRUE(WriteHostBytes(built.image, at, {old}));
  return out;
}

TEST(ScenarioSpace, VerifyNamesAChangeInFreeSpaceSlackRemnantsAndMetadata) {
  ScratchDir scratch;
  Built built;
  ASSERT_NO_FATAL_FAILURE(Build(scratch, "verify",
                                "{\"volume\": {\"size\": \"16M\", \"freed\": \"keep\"}, \"seed\": 5, \"steps\": ["
                                "{\"op\": \"create\", \"path\": \"/a.bin\", \"size\": 10000},"
                                "{\"op\": \"create\", \"path\": \"/b.bin\", \"size\": 100000},"
                                "{\"op\": \"layout\", \"split\": {\"/b.bin\": 2}, \"arrange\": [\"/b.bin#2\", {\"gap\": 1}, \"/b.bin#1\"]}]}",
                                &built));
  // A free cluster that holds zeros, from the volume's own bitmap ($Bitmap, record 6).
  bool ok = false;
  const std::string bitmap = RunCommand("icat " + ShellQuote(built.image) + " 6", &ok);
  ASSERT_TRUE(ok);
  int64_t zero_free = -1;
  for (int64_t lcn = static_cast<int64_t>(bitmap.size()) * 8 / 2; lcn > 0 && zero_free < 0; --lcn) {
    const bool in_use = (static_cast<uint8_t>(bitmap[static_cast<std::size_t>(lcn / 8)]) >> (lcn % 8)) & 1;
    const uint8_t* cluster = built.Cluster(lcn);
    if (!in_use && std::all_of(cluster, cluster + built.cluster_size, [](uint8_t b) { return b == 0; }))
      zero_free = lcn;
  }
  ASSERT_GE(zero_free, 0);
  ASSERT_FALSE(built.manifest["remnants"].empty());
  const Json& remnant = built.manifest["remnants"][0];
  const Json& a = *built.File("/a.bin");
  const struct {
    const char* place;
    uint64_t at;
    std::string expected;
  } kChanges[] = {
      {"free space", zero_free * built.cluster_size + 100,
       "DIFFERS  free space: clusters " + std::to_string(zero_free) + "-" + std::to_string(zero_free) +
           " hold bytes the manifest does not account for"},
      {"slack", a["runs"][0]["first_cluster"].get<uint64_t>() * built.cluster_size + 10000 + 5,
       "DIFFERS  /a.bin: slack differs"},
      {"remnant", remnant["first_cluster"].get<uint64_t>() * built.cluster_size + 3,
       "DIFFERS  remnant of /b.bin at clusters " + std::to_string(remnant["first_cluster"].get<int64_t>())},
      {"metadata (the backup boot sector)", built.bytes.size() - 512 + 100, "DIFFERS  metadata"},
  };
  for (const auto& change : kChanges) {
    SCOPED_TRACE(change.place);
    int status = 0;
    const std::string out = VerifyWithByteChanged(built, change.at, &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find(change.expected), std::string::npos) << out;
  }
  std::string out;
  EXPECT_EQ(Shardix("scenario --verify " + ShellQuote(built.image + ".manifest.json") + " " +
                        ShellQuote(built.image), &out), 0) << out;
}

TEST(ScenarioSpace, AShortFragmentCountIsAWarning) {
  ScratchDir scratch;
  Built built;
  // First Fit on an empty volume puts the pieces back side by side.
  ASSERT_NO_FATAL_FAILURE(Build(scratch, "short",
                                "{\"volume\": {\"size\": \"8M\"}, \"seed\": 3, \"steps\": ["
                                "{\"op\": \"create\", \"path\": \"/f.bin\", \"size\": 409600},"
                                "{\"op\": \"fragment\", \"path\": \"/f.bin\", \"count\": 25, \"method\": \"first-fit\"}]}",
                                &built));
  const std::size_t runs = built.File("/f.bin")->at("runs").size();
  ASSERT_LT(runs, 25u);
  const std::string line = "steps[1]: fragment /f.bin: " + std::to_string(runs) + " fragments, not the 25 asked for";
  EXPECT_EQ(built.manifest["warnings"], Json::array({line}));
}

// Python's json module reads `text` and prints each file entry's exact name
// (from path_hex when there is one) as hex.
std::vector<std::string> NamesReadByPython(const std::string& manifest_path) {
  bool ok = false;
  const std::string out = RunCommand(
      "python3 -c 'import json,sys\n"
      "for f in json.load(open(sys.argv[1], encoding=\"utf-8\"))[\"files\"]:\n"
      "  print(f[\"path_hex\"] if \"path_hex\" in f else f[\"path\"].encode(\"utf-8\").hex())' " +
          ShellQuote(manifest_path),
      &ok);
  EXPECT_TRUE(ok) << out;
  std::vector<std::string> names;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) names.push_back(line);
  return names;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  return hex;
}

TEST(ScenarioManifest, OddNamesComeBackExactlyThroughOtherReaders) {
  ScratchDir scratch;
  Built built;
  const std::string odd = "/odd \"q\" \\ \xE2\x80\xA8 \xF0\x9F\x98\x80 \xC3\xA9.bin";
  ASSERT_NO_FATAL_FAILURE(Build(scratch, "odd",
                                "{\"volume\": {\"size\": \"8M\"}, \"seed\": 3, \"steps\": ["
                                "{\"op\": \"create\", \"path\": \"/odd \\\"q\\\" \\\\ \\u2028 \\ud83d\\ude00 \\u00e9.bin\", \"size\": 5000}]}",
                                &built));
  EXPECT_EQ(NamesReadByPython(built.image + ".manifest.json"), std::vector<std::string>{Hex(odd)});

  // Names that are not Unicode at all: a lone surrogate as the library's
  // UTF-8 would carry it, stray bytes.
  scenario::Recipe recipe;
  scenario::ScenarioResult result;
  result.geometry = {4096, 512, 100};
  const std::vector<std::string> names = {"/lone \xED\xA0\x80.bin", "/stray \xFF\xFE" "A.bin", "/plain.bin"};
  for (const std::string& name : names) {
    scenario::FileRecord file;
    file.path = name;
    file.stream = name == names[0] ? std::string("s\xC0") : std::string();
    file.sha256 = std::string(64, '0');
    file.notes.push_back("note about " + name);
    result.files.push_back(file);
  }
  const std::string manifest_path = scratch.path() + "/unicode.manifest.json";
  std::ofstream(manifest_path, std::ios::binary) << scenario::ManifestJson(recipe, result, "x.img");
  std::vector<std::string> expected;
  for (const std::string& name : names) expected.push_back(Hex(name));
  EXPECT_EQ(NamesReadByPython(manifest_path), expected);
  scenario::Manifest manifest;
  std::string error;
  ASSERT_TRUE(scenario::ReadManifest(ReadText(manifest_path), &manifest, &error)) << error;
  ASSERT_EQ(manifest.files.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(manifest.files[i].path, names[i]);
  EXPECT_EQ(manifest.files[0].stream, "s\xC0");
}

// SIGTERM while the image is hashed: the build and the check stop with 143
// and write no manifest.
TEST(ScenarioSpace, SigtermStopsHashing) {
  ScratchDir scratch;
  const std::string recipe = scratch.path() + "/big.json";
  const std::string image = scratch.path() + "/big.img";
  std::ofstream(recipe) << "{\"volume\": {\"size\": \"64G\"}, \"seed\": 1, \"steps\": []}";
  const auto stopped_at = [&](const std::string& words, const std::string& line) {
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
      dup2(out[1], 1);
      close(out[0]);
      execl("/bin/sh", "sh", "-c", (std::string("exec ") + SHARDIX_CLI + " " + words).c_str(), nullptr);
      _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char text[4096];
    bool seen = false;
    while (!seen && fgets(text, sizeof text, lines)) seen = std::string(text).find(line) != std::string::npos;
    EXPECT_TRUE(seen) << line;
    kill(child, SIGTERM);
    while (fgets(text, sizeof text, lines)) {
    }
    fclose(lines);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(stopped_at("scenario " + ShellQuote(recipe) + " " + ShellQuote(image), "hashing the image"), 143);
  EXPECT_FALSE(std::filesystem::exists(image + ".manifest.json"));
}

}  // namespace
}  // namespace shardix::test
