// Scenario images judged by tools we did not write: every example recipe is
// built twice (the same bytes both times), then The Sleuth Kit and ntfs-3g's
// tools must agree with the manifest on every file's record, runs, size and
// bytes; `shardix check` must find the volume clean, and --verify must pass,
// then fail once one byte of one file is changed.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>
#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

using Json = nlohmann::json;

int Shardix(const std::string& words, std::string* out = nullptr) {
  return RunCommandStatus(std::string(SHARDIX_CLI) + " " + words, out);
}

std::string Sha256Of(const std::string& command) {
  bool ok = false;
  const std::string out = RunCommand(command + " | sha256sum", &ok);
  return ok ? out.substr(0, 64) : "";
}

// A run as both sides can state it: first cluster (-1 for a hole) and length,
// neighbours on the volume joined.
struct ClusterRun {
  int64_t lcn;
  uint64_t clusters;
  bool operator==(const ClusterRun&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ClusterRun& run) {
  return out << run.lcn << "+" << run.clusters;
}

void Append(std::vector<ClusterRun>* runs, ClusterRun run) {
  if (!runs->empty()) {
    ClusterRun& last = runs->back();
    if ((last.lcn < 0 && run.lcn < 0) ||
        (last.lcn >= 0 && run.lcn == last.lcn + static_cast<int64_t>(last.clusters))) {
      last.clusters += run.clusters;
      return;
    }
  }
  runs->push_back(run);
}

// One $DATA attribute as istat -r shows it.
struct TskStream {
  bool found = false;
  std::string address;  // INODE-128-ID, for icat
  bool resident = false;
  uint64_t size = 0;
  std::vector<ClusterRun> runs;
};

TskStream IstatStream(const std::string& image, uint64_t record, const std::string& stream) {
  bool ok = false;
  const std::string text =
      RunCommand("istat -r " + ShellQuote(image) + " " + std::to_string(record), &ok);
  TskStream found;
  std::istringstream lines(text);
  std::string line;
  const std::regex header(R"(Type: \$DATA \(128-(\d+)\)\s+Name: (.*?)\s+(Non-Resident|Resident)[^:]*?\ssize: (\d+))");
  const std::regex run(R"(Starting address: (\d+|X), length: (\d+))");
  bool inside = false;
  std::smatch match;
  while (std::getline(lines, line)) {
    if (std::regex_search(line, match, header)) {
      const std::string name = match[2] == "N/A" ? "" : std::string(match[2]);
      inside = name == stream && !found.found;
      if (inside) {
        found.found = true;
        found.address = std::to_string(record) + "-128-" + std::string(match[1]);
        found.resident = match[3] == "Resident";
        found.size = std::stoull(match[4]);
      }
      continue;
    }
    if (line.rfind("Type:", 0) == 0) inside = false;
    if (inside && std::regex_search(line, match, run))
      Append(&found.runs, {match[1] == "X" ? -1 : std::stoll(match[1]), std::stoull(match[2])});
  }
  return found;
}

// fls -r -p: path -> record for allocated names, and the records it lists as deleted.
void FlsListing(const std::string& image, std::map<std::string, uint64_t>* allocated,
                std::map<uint64_t, std::string>* deleted) {
  bool ok = false;
  const std::string text = RunCommand("fls -r -p " + ShellQuote(image), &ok);
  std::istringstream lines(text);
  std::string line;
  const std::regex entry(R"(^\S+ (\* )?(\d+)-\d+-\d+:\t(.*)$)");
  std::smatch match;
  while (std::getline(lines, line)) {
    if (!std::regex_search(line, match, entry)) continue;
    const uint64_t record = std::stoull(match[2]);
    if (match[1].matched) (*deleted)[record] = match[3];
    else (*allocated)["/" + std::string(match[3])] = record;
  }
}

std::vector<ClusterRun> ManifestRuns(const Json& file) {
  std::vector<ClusterRun> runs;
  for (const Json& run : file.at("runs")) {
    int64_t lcn = -1;
    uint64_t clusters = 0;
    if (!run.at("first_cluster").is_null()) lcn = run.at("first_cluster").get<int64_t>();
    clusters = run.at("clusters").get<uint64_t>();
    Append(&runs, {lcn, clusters});
  }
  return runs;
}

bool HasNote(const Json& file, const std::string& start) {
  for (const Json& note : file.at("notes"))
    if (note.get<std::string>().rfind(start, 0) == 0) return true;
  return false;
}

class ScenarioExample : public ::testing::TestWithParam<std::string> {};

TEST_P(ScenarioExample, BuildsTheSameBytesTwiceAndOtherToolsAgreeWithItsManifest) {
  ScratchDir scratch;
  const std::string recipe = std::string(SHARDIX_EXAMPLES) + "/" + GetParam() + ".json";
  const std::string image = scratch.path() + "/first/" + GetParam() + ".img";
  const std::string again = scratch.path() + "/second/" + GetParam() + ".img";
  std::filesystem::create_directories(scratch.path() + "/first");
  std::filesystem::create_directories(scratch.path() + "/second");
  std::string out;
  ASSERT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 0) << out;
  // The second build runs at another second of the clock: libntfs-3g stamps
  // what it writes with it, and the build must pin every such stamp.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe) + " " + ShellQuote(again), &out), 0) << out;
  EXPECT_EQ(Sha256Of("cat " + ShellQuote(image)), Sha256Of("cat " + ShellQuote(again)));
  const std::string manifest_text = ReadText(image + ".manifest.json");
  EXPECT_EQ(manifest_text, ReadText(again + ".manifest.json"));
  EXPECT_EQ(ReadText(image + ".manifest.txt"), ReadText(again + ".manifest.txt"));

  const Json manifest = Json::parse(manifest_text, nullptr, false);
  ASSERT_FALSE(manifest.is_discarded());
  // Python's json reads it, and python3-jsonschema finds it as documented.
  bool valid = false;
  const std::string schema_errors =
      RunCommand("python3 " SHARDIX_SOURCE_DIR "/tests/cli/manifest_check.py " SHARDIX_SOURCE_DIR
                 "/docs/manifest.schema.json " + ShellQuote(image + ".manifest.json"), &valid);
  EXPECT_TRUE(valid) << schema_errors;
  EXPECT_EQ(manifest.at("image_sha256").get<std::string>(), Sha256Of("cat " + ShellQuote(image)));
  uint64_t cluster_size = 0, sector_size = 0;
  cluster_size = manifest.at("cluster_size").get<uint64_t>();
  sector_size = manifest.at("sector_size").get<uint64_t>();
  ASSERT_GT(cluster_size, 0u);
  std::map<std::string, uint64_t> allocated;
  std::map<uint64_t, std::string> deleted;
  FlsListing(image, &allocated, &deleted);

  std::string corrupt_path;
  int64_t corrupt_lcn = -1;
  for (const Json& file : manifest.at("files")) {
    const std::string path = file.at("path").get<std::string>(), stream = file.at("stream").get<std::string>();
    const std::string state = file.at("state").get<std::string>(), sha256 = file.at("sha256").get<std::string>();
    const std::string name = path + (stream.empty() ? "" : ":" + stream);
    SCOPED_TRACE(name + " (" + state + ")");
    uint64_t record = 0, size = 0;
    record = file.at("mft_record").get<uint64_t>();
    size = file.at("size").get<uint64_t>();
    const std::vector<ClusterRun> runs = ManifestRuns(file);
    for (const Json& run : file.at("runs")) {
      uint64_t first_cluster = 0, first_sector = 0, clusters = 0, sectors = 0;
      if (run.at("first_cluster").is_null()) continue;
      first_cluster = run.at("first_cluster").get<uint64_t>();
      first_sector = run.at("first_sector").get<uint64_t>();
      clusters = run.at("clusters").get<uint64_t>();
      sectors = run.at("sectors").get<uint64_t>();
      EXPECT_EQ(first_sector * sector_size, first_cluster * cluster_size);
      EXPECT_EQ(sectors * sector_size, clusters * cluster_size);
    }

    // The record itself, read by The Sleuth Kit. A deleted file whose record
    // another file took has nothing left to compare there.
    if (state != "allocated" && HasNote(file, "MFT record reused by")) continue;
    const TskStream tsk = IstatStream(image, record, stream);
    ASSERT_TRUE(tsk.found) << "istat finds no such $DATA in record " << record;
    EXPECT_EQ(tsk.size, size);
    EXPECT_EQ(tsk.resident, file.at("resident").get<bool>());
    if (!tsk.resident) {
      EXPECT_EQ(tsk.runs, runs);
    }
    const std::string icat = Sha256Of("icat " + ShellQuote(image) + " " + tsk.address);
    if (state == "overwritten") {
      EXPECT_NE(icat, sha256);
    } else {
      EXPECT_EQ(icat, sha256);
    }

    if (state != "allocated") {
      EXPECT_TRUE(deleted.count(record)) << "fls lists no deleted entry for record " << record;
      continue;
    }
    EXPECT_EQ(allocated[name], record) << "fls";
    // ntfs-3g's view of the same file.
    if (stream.empty()) {
      EXPECT_EQ(NtfsinfoRecordNumber(image, path), static_cast<int64_t>(record));
      std::vector<ClusterRun> ntfsinfo;
      for (const ExpectedExtent& extent : NtfsinfoExtents(image, path))
        Append(&ntfsinfo, {extent.lcn, static_cast<uint64_t>(extent.next_vcn - extent.vcn)});
      if (!file.at("resident").get<bool>()) {
        EXPECT_EQ(ntfsinfo, runs);
      }
    }
    EXPECT_EQ(Sha256Of("ntfscat -a 0x80" + (stream.empty() ? "" : " -n " + ShellQuote(stream)) + " " +
                       ShellQuote(image) + " " + ShellQuote(path)),
              sha256);
    if (corrupt_lcn < 0 && !runs.empty() && runs[0].lcn >= 0) {
      corrupt_path = name;
      corrupt_lcn = runs[0].lcn;
    }
  }

  std::string check;
  EXPECT_EQ(Shardix("check " + ShellQuote(image), &check), 0) << check;
  const std::string manifest_path = ShellQuote(image + ".manifest.json");
  std::string verify;
  EXPECT_EQ(Shardix("scenario --verify " + manifest_path + " " + ShellQuote(image), &verify), 0) << verify;

  // One byte of one file changed: --verify names that file and fails.
  ASSERT_GE(corrupt_lcn, 0) << "no allocated file with clusters to change";
  const uint64_t at = static_cast<uint64_t>(corrupt_lcn) * cluster_size + 7;
  std::vector<uint8_t> bytes = ReadHostFile(image);
  ASSERT_GT(bytes.size(), at);
  ASSERT_TRUE(WriteHostBytes(image, at, {static_cast<uint8_t>(bytes[at] ^ 0x5A)}));
  EXPECT_EQ(Shardix("scenario --verify " + manifest_path + " " + ShellQuote(image), &verify), 1) << verify;
  EXPECT_NE(verify.find("DIFFERS  " + corrupt_path + ": bytes differ"), std::string::npos) << verify;
}

INSTANTIATE_TEST_SUITE_P(Examples, ScenarioExample,
                         ::testing::Values("carve-1-contiguous", "carve-2-sequential",
                                           "carve-3-nonsequential", "carve-4-missing",
                                           "carve-5-nested", "carve-6-braided", "ntfs-undelete",
                                           "aged-small"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

// A recipe at fault is refused before anything is made, and an existing file
// is never replaced without --force.
TEST(Scenario, RefusesBadRecipesAndKeepsExistingFiles) {
  ScratchDir scratch;
  const std::string recipe = scratch.path() + "/recipe.json";
  const std::string image = scratch.path() + "/out.img";
  const struct {
    const char* text;
    const char* complaint;
  } kBad[] = {
      {"{\"volume\": {\"size\": \"16M\"}, \"steps\": []}", "seed: is required"},
      {"{\"volume\": {\"size\": \"16M\"}, \"seed\": 1, \"steps\": [{\"op\": \"shred\"}]}", "steps[0].op: unknown op"},
      {"{\"volume\": {\"size\": \"16M\"}, \"seed\": 1, \"steps\": [{\"op\": \"create\", \"path\": \"x\", \"size\": 1}]}",
       "steps[0].path: \"x\" is not a path"},
      {"{\"volume\": {\"size\": \"16M\", \"cluster_size\": 3000}, \"seed\": 1, \"steps\": []}", "cluster_size"},
      {"{\"volume\": {\"size\": \"16M\"}, \"seed\": 1, \"steps\": [", "line 1, column"},
  };
  for (const auto& bad : kBad) {
    std::ofstream(recipe) << bad.text;
    std::string out;
    EXPECT_EQ(Shardix("scenario " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 2) << bad.text;
    EXPECT_NE(out.find(bad.complaint), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(image));
  }
  std::ofstream(recipe) << "{\"volume\": {\"size\": \"8M\"}, \"seed\": 1, \"steps\": []}";
  std::ofstream(image) << "precious";
  std::string out;
  EXPECT_EQ(Shardix("scenario " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 1);
  EXPECT_EQ(ReadText(image), "precious");
  // A step that cannot be done is found before the build.
  std::ofstream(recipe) << "{\"volume\": {\"size\": \"8M\"}, \"seed\": 1, \"steps\": ["
                           "{\"op\": \"create\", \"path\": \"/a\", \"size\": 100000},"
                           "{\"op\": \"layout\", \"split\": {\"/a\": 2}, \"arrange\": [\"/a#3\"]}]}";
  EXPECT_EQ(Shardix("scenario --force " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 2);
  EXPECT_NE(out.find("steps[1].arrange[0]: /a has 2 pieces, not 3"), std::string::npos) << out;
  EXPECT_EQ(ReadText(image), "precious");
  EXPECT_FALSE(std::filesystem::exists(image + ".manifest.json"));
}

// A folder with more names than its record holds, deleted whole: its index
// blocks stay in free clusters with the names' time stamps, which must come
// from the recipe as every other stamp does.
TEST(Scenario, StampsEveryTimeWithTheRecipesTimeDeletedFoldersIncluded) {
  ScratchDir scratch;
  Json steps = Json::array();
  for (int i = 0; i < 60; ++i)
    steps.push_back({{"op", "create"}, {"path", "/big/a-rather-long-file-name-" + std::to_string(i) + ".txt"},
                     {"size", 100}});
  steps.push_back({{"op", "delete"}, {"path", "/big"}, {"recursive", true}});
  steps.push_back({{"op", "create"}, {"path", "/keep.txt"}, {"size", 10}});
  const Json recipe = {{"volume", {{"size", "16M"}}}, {"seed", 5}, {"time", 1700000000}, {"steps", steps}};
  const std::string recipe_path = scratch.path() + "/recipe.json";
  std::ofstream(recipe_path) << recipe.dump();
  const std::string first = scratch.path() + "/first.img", second = scratch.path() + "/second.img";
  std::string out;
  ASSERT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe_path) + " " + ShellQuote(first), &out), 0) << out;
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe_path) + " " + ShellQuote(second), &out), 0) << out;
  EXPECT_EQ(Sha256Of("cat " + ShellQuote(first)), Sha256Of("cat " + ShellQuote(second)));
  // ntfs-3g's own reader: standard information and name, all four times.
  bool ok = false;
  const std::string info = RunCommand("ntfsinfo -F /keep.txt " + ShellQuote(first), &ok);
  ASSERT_TRUE(ok) << info;
  int stamps = 0;
  std::istringstream lines(info);
  for (std::string line; std::getline(lines, line);)
    if (line.find("Time:") != std::string::npos) {
      ++stamps;
      EXPECT_NE(line.find("Tue Nov 14 22:13:20 2023"), std::string::npos) << line;
    }
  EXPECT_EQ(stamps, 8);
}

}  // namespace
}  // namespace shardix::test
