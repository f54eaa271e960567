// The volume analysis and the disk report on real NTFS images, checked
// against the image's $Bitmap as ntfscat reads it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "report/volume_analysis.h"
#include "tests/support/recording_display.h"
#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"

namespace shardix::test {
namespace {

class NtfsImageReportTest : public ::testing::Test {
 protected:
  void MakeImage(uint64_t bytes, uint32_t cluster) {
    image_ = scratch_.path() + "/volume.img";
    ASSERT_TRUE(MakeNtfsImage(image_, bytes, cluster));
  }
  ScratchDir scratch_;
  std::string image_;
};

TEST_F(NtfsImageReportTest, RunsAndFreeTotalAgreeWithTheImagesBitmap) {
  ASSERT_NO_FATAL_FAILURE(MakeImage(64u << 20, 4096));
  {
    // Files written in turn, every other one removed: free space in pieces.
    FuseMount mount(image_, scratch_.path() + "/mnt");
    ASSERT_TRUE(mount.ok());
    for (int i = 0; i < 40; ++i)
      ASSERT_TRUE(WriteWholeFile(scratch_.path() + "/mnt/f" + std::to_string(i),
                                 PseudoRandomBytes((i % 7 + 1) * 40000, i)));
    for (int i = 0; i < 40; i += 2)
      ASSERT_TRUE(std::filesystem::remove(scratch_.path() + "/mnt/f" + std::to_string(i)));
    ASSERT_TRUE(mount.Unmount());
  }
  const ImageFacts facts = ReadImageFacts(image_);
  const std::vector<uint8_t> bitmap = NtfscatBitmap(image_, facts.cluster_count);

  RecordingDisplay display;
  uint64_t free_total = 0;
  std::vector<FreeRun> table(5);
  {
    std::unique_ptr<Volume> volume;
    ASSERT_EQ(OpenVolumeByPath(image_, &volume), kErrorSuccess);
    ASSERT_EQ(AnalyzeVolume(volume.get(), display, VolumeAnalysisMode::kFillLists, &free_total,
                            table.data(), table.size()),
              0);
  }

  // Runs from ntfscat's bitmap, one bit at a time.
  std::vector<RecordingDisplay::AllocationRow> expected;
  uint64_t expected_free = 0;
  for (uint64_t p = 0; p < facts.cluster_count;) {
    uint64_t first = p;
    bool used = BitSet(bitmap, p);
    while (p < facts.cluster_count && BitSet(bitmap, p) == used) ++p;
    expected.push_back({first, p - first, used ? 1u : 0u});
    if (!used) expected_free += p - first;
  }
  ASSERT_EQ(display.allocation_rows.size(), expected.size());
  EXPECT_GT(expected.size(), 20u);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(display.allocation_rows[i].first_lcn, expected[i].first_lcn) << i;
    EXPECT_EQ(display.allocation_rows[i].length, expected[i].length) << i;
    EXPECT_EQ(display.allocation_rows[i].in_use, expected[i].in_use) << i;
  }
  EXPECT_EQ(free_total, expected_free);
  EXPECT_EQ(display.summary_rows[1].second, std::to_string(facts.cluster_count));
  EXPECT_EQ(display.summary_rows[3].second, std::to_string(expected_free));
  EXPECT_EQ(display.summary_rows[0].second, "4096 Bytes");
  for (const FreeRun& run : table)
    for (uint64_t lcn = run.lcn; lcn < run.lcn + run.length; ++lcn)
      ASSERT_FALSE(BitSet(bitmap, lcn)) << "table run at " << run.lcn;
}

// The report file that `shardix volume-info --save` writes: its totals add
// up to the volume's clusters, and so do its rows.
TEST_F(NtfsImageReportTest, SavedReportOfAFreshImageAddsUp) {
  ASSERT_NO_FATAL_FAILURE(MakeImage(32u << 20, 16384));
  const ImageFacts facts = ReadImageFacts(image_);
  const std::string report = scratch_.path() + "/report.txt";
  bool ok = false;
  RunCommand(std::string(SHARDIX_CLI) + " volume-info " + ShellQuote(image_) + " --save " +
                 ShellQuote(report),
             &ok);
  ASSERT_TRUE(ok);

  std::ifstream in(report, std::ios::binary);
  std::string line;
  std::map<std::string, uint64_t> totals;
  uint64_t row_clusters = 0, rows = 0;
  bool in_rows = false;
  while (std::getline(in, line)) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    line.pop_back();
    if (line.rfind("LCN Range", 0) == 0) {
      in_rows = true;
    } else if (in_rows) {
      std::istringstream row(line);
      uint64_t first, last, clusters;
      std::string dash;
      ASSERT_TRUE(row >> first >> dash >> last >> clusters) << line;
      EXPECT_EQ(last - first + 1, clusters);
      row_clusters += clusters;
      ++rows;
    } else if (!line.empty() && line[0] == '\t') {
      std::size_t colon = line.find(':');
      totals[line.substr(1, colon)] = std::strtoull(line.c_str() + 51, nullptr, 10);
      if (line.find("Cluster Size:") == 1) {
        EXPECT_EQ(line.substr(51), "16 KB");
      }
    }
  }
  EXPECT_EQ(totals["Total Disk Clusters:"], facts.cluster_count);
  EXPECT_EQ(totals["Total Occupied Clusters:"] + totals["Total Free Clusters:"], facts.cluster_count);
  EXPECT_EQ(row_clusters, facts.cluster_count);
  EXPECT_GE(rows, 3u);
}

}  // namespace
}  // namespace shardix::test
