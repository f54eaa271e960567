// Scenario images shaped as whole disks, judged by tools we did not write:
// The Sleuth Kit finds the one partition where the manifest says and reads
// the files inside it, sgdisk finds the GPT sound, and --verify reads the
// volume at its offset.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>
#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

using Json = nlohmann::json;

int Shardix(const std::string& words, std::string* out) {
  return RunCommandStatus(std::string(SHARDIX_CLI) + " " + words, out);
}

std::string Sha256Of(const std::string& command) {
  bool ok = false;
  const std::string out = RunCommand(command + " | sha256sum", &ok);
  return ok ? out.substr(0, 64) : "";
}

// The partitions mmls lists (not its Meta and Unallocated rows): start and description.
std::vector<std::pair<uint64_t, std::string>> MmlsPartitions(const std::string& image) {
  bool ok = false;
  std::istringstream lines(RunCommand("mmls " + ShellQuote(image), &ok));
  std::vector<std::pair<uint64_t, std::string>> found;
  const std::regex row(R"(^\d+:\s+\d+(:\d+)?\s+(\d+)\s+\d+\s+\d+\s+(.*)$)");
  std::smatch match;
  for (std::string line; std::getline(lines, line);)
    if (std::regex_search(line, match, row)) found.emplace_back(std::stoull(match[2]), match[3]);
  return found;
}

struct DiskCase {
  const char* table;
  const char* recipe;      // an example, or a recipe's text
  const char* mmls_words;  // in the partition's description
};

class ScenarioDisk : public ::testing::TestWithParam<DiskCase> {};

TEST_P(ScenarioDisk, OtherToolsFindTheVolumeWhereTheManifestSaysAndVerifyReadsIt) {
  ScratchDir scratch;
  std::string recipe = GetParam().recipe;
  if (recipe.front() == '{') {
    std::ofstream(scratch.path() + "/recipe.json") << recipe;
    recipe = scratch.path() + "/recipe.json";
  } else {
    recipe = std::string(SHARDIX_EXAMPLES) + "/" + recipe;
  }
  const std::string image = scratch.path() + "/disk.img", again = scratch.path() + "/again.img";
  std::string out;
  ASSERT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 0) << out;
  ASSERT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe) + " " + ShellQuote(again), &out), 0) << out;
  EXPECT_EQ(Sha256Of("cat " + ShellQuote(image)), Sha256Of("cat " + ShellQuote(again)));
  const Json manifest = Json::parse(ReadText(image + ".manifest.json"));
  bool valid = false;
  EXPECT_EQ(RunCommand("python3 " SHARDIX_SOURCE_DIR "/tests/cli/manifest_check.py " SHARDIX_SOURCE_DIR
                       "/docs/manifest.schema.json " + ShellQuote(image + ".manifest.json"), &valid), "");
  EXPECT_TRUE(valid);
  EXPECT_EQ(manifest.at("partition_table"), GetParam().table);
  const uint64_t sector_size = manifest.at("sector_size"), offset = manifest.at("volume_offset_bytes");
  const uint64_t start = offset / sector_size;
  EXPECT_EQ(manifest.at("image_sha256"), Sha256Of("cat " + ShellQuote(image)));

  const auto partitions = MmlsPartitions(image);
  ASSERT_EQ(partitions.size(), 1u) << RunCommand("mmls " + ShellQuote(image), &valid);
  EXPECT_EQ(partitions[0].first, start);
  EXPECT_NE(partitions[0].second.find(GetParam().mmls_words), std::string::npos) << partitions[0].second;
  if (std::string(GetParam().table) == "gpt") {
    EXPECT_NE(RunCommand("sgdisk -v " + ShellQuote(image), &valid).find("No problems found"), std::string::npos);
  }
  // The zeros between the table and the partition are a hole, not written.
  const int fd = ::open(image.c_str(), O_RDONLY);
  EXPECT_GE(::lseek(fd, 34 * 512, SEEK_DATA), static_cast<off_t>(offset));
  ::close(fd);
  // NTFS counts the sectors before it on its disk.
  const std::vector<uint8_t> disk = ReadHostFile(image);
  ASSERT_GT(disk.size(), offset + 0x20);
  EXPECT_EQ(disk[offset + 0x1C] | disk[offset + 0x1D] << 8 | disk[offset + 0x1E] << 16, start);

  const std::string fls = RunCommand("fls -r -p -o " + std::to_string(start) + " " + ShellQuote(image), &valid);
  const Json* sample = nullptr;
  for (const Json& file : manifest.at("files")) {
    if (file.at("state") != "allocated") continue;
    EXPECT_NE(fls.find(file.at("path").get<std::string>().substr(1)), std::string::npos) << fls;
    for (const Json& run : file.at("runs")) {
      EXPECT_EQ(run.at("disk_first_sector").get<uint64_t>(), run.at("first_sector").get<uint64_t>() + start);
      EXPECT_EQ(run.at("disk_last_sector").get<uint64_t>(), run.at("last_sector").get<uint64_t>() + start);
    }
    if (!sample && !file.at("runs").empty()) sample = &file;
  }
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(Sha256Of("icat -o " + std::to_string(start) + " " + ShellQuote(image) + " " +
                     std::to_string(sample->at("mft_record").get<uint64_t>())),
            sample->at("sha256"));

  const std::string verify = "scenario --verify " + ShellQuote(image + ".manifest.json") + " " + ShellQuote(image);
  EXPECT_EQ(Shardix(verify, &out), 0) << out;
  // score reads the originals inside the partition, a resident file's too:
  // the copy icat recovered is whole.
  const std::string found = scratch.path() + "/found";
  ASSERT_TRUE(RunCommandStatus("mkdir " + ShellQuote(found) + " && icat -o " + std::to_string(start) + " " +
                                   ShellQuote(image) + " " + std::to_string(sample->at("mft_record").get<uint64_t>()) +
                                   " > " + ShellQuote(found + "/copy"), nullptr) == 0);
  EXPECT_EQ(Shardix("score " + ShellQuote(image + ".manifest.json") + " " + ShellQuote(found), &out), 0) << out;
  EXPECT_NE(out.find("whole    100%   copy"), std::string::npos) << out;
  // One byte of the file's data, where the manifest says it lies on the disk.
  const uint64_t at = sample->at("runs")[0].at("disk_first_sector").get<uint64_t>() * sector_size + 7;
  ASSERT_TRUE(WriteHostBytes(image, at, {static_cast<uint8_t>(disk[at] ^ 0x5A)}));
  EXPECT_EQ(Shardix(verify, &out), 1) << out;
  EXPECT_NE(out.find("DIFFERS  " + sample->at("path").get<std::string>() + ": bytes differ"), std::string::npos) << out;
  // Put back, then one byte of the table: the volume is whole, the table is not.
  ASSERT_TRUE(WriteHostBytes(image, at, {disk[at]}));
  ASSERT_TRUE(WriteHostBytes(image, 446 + 12, {static_cast<uint8_t>(disk[446 + 12] ^ 1)}));
  EXPECT_EQ(Shardix(verify, &out), 1) << out;
  EXPECT_NE(out.find("DIFFERS  the partition table"), std::string::npos) << out;
  EXPECT_EQ(out.find("DIFFERS  /"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ScenarioDisk,
    ::testing::Values(DiskCase{"gpt", "disk-gpt.json", "Basic data partition"},
                      DiskCase{"mbr",
                               R"({"volume": {"size": "8M", "partition_table": "mbr", "offset": 65536},
                                   "seed": 5, "steps": [{"op": "create", "path": "/a/b.bin", "size": 20000},
                                   {"op": "create", "path": "/c.txt", "size": 9000}]})",
                               "NTFS"}),
    [](const auto& info) { return std::string(info.param.table); });

// A disk the recipe cannot have is refused before anything is made.
TEST(ScenarioDisk, RefusesOffsetsAndTablesItCannotMake) {
  ScratchDir scratch;
  const std::string recipe = scratch.path() + "/recipe.json", image = scratch.path() + "/out.img";
  const struct {
    const char* volume;
    const char* complaint;
  } kBad[] = {
      {R"("partition_table": "mbr", "offset": 1000)", "volume.offset: takes a multiple of the 512-byte sector"},
      {R"("partition_table": "gpt", "offset": 8192)", "volume.offset: takes a multiple of the 512-byte sector, at least 17408"},
      {R"("partition_table": "gpt", "sector_size": 4096, "offset": 20480)", "at least 24576"},
      {R"("partition_table": "apm")", "volume.partition_table: takes \"mbr\" or \"gpt\""},
      {R"("offset": "1M")", "volume.offset: goes with \"partition_table\""},
  };
  for (const auto& bad : kBad) {
    std::ofstream(recipe) << R"({"volume": {"size": "8M", )" << bad.volume << R"(}, "seed": 1, "steps": []})";
    std::string out;
    EXPECT_EQ(Shardix("scenario " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 2) << bad.volume;
    EXPECT_NE(out.find(bad.complaint), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(image));
  }
}

}  // namespace
}  // namespace shardix::test
