// The whole-volume analysis: runs, totals, the summary rows, the table of
// the longest free runs and every failure box.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "report/volume_analysis.h"
#include "tests/report/bitmap_volume.h"
#include "tests/support/recording_display.h"
#include "volume/memory/memory_volume.h"

namespace shardix {

void PrintTo(const FreeRun& run, std::ostream* out) { *out << "{" << run.lcn << ", " << run.length << "}"; }

namespace test {
bool operator==(const RecordingDisplay::AllocationRow& a, const RecordingDisplay::AllocationRow& b) {
  return a.first_lcn == b.first_lcn && a.length == b.length && a.in_use == b.in_use;
}
void PrintTo(const RecordingDisplay::AllocationRow& row, std::ostream* out) {
  *out << "{" << row.first_lcn << ", " << row.length << (row.in_use ? ", used}" : ", free}");
}
}  // namespace test

namespace {

using test::BitmapVolume;
using test::RecordingDisplay;
using Row = RecordingDisplay::AllocationRow;

std::string SummaryValue(const RecordingDisplay& display, const std::string& label) {
  for (const auto& [l, v] : display.summary_rows)
    if (l == label) return v;
  return "(missing)";
}

TEST(AnalyzeVolume, SixClustersGiveThreeRunsAndTheSummary) {
  BitmapVolume volume = BitmapVolume::FromBits("110001");
  RecordingDisplay display;
  uint64_t free_total = 99;
  ASSERT_EQ(AnalyzeVolume(&volume, display, VolumeAnalysisMode::kFillLists, &free_total), 0);
  EXPECT_EQ(display.allocation_rows, (std::vector<Row>{{0, 2, 1}, {2, 3, 0}, {5, 1, 1}}));
  EXPECT_EQ(free_total, 3u);
  using Summary = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(display.summary_rows, (Summary{{"Cluster Size:", "4096 Bytes"},
                                           {"Total Disk Clusters:", "6"},
                                           {"Total Occupied Clusters:", "3"},
                                           {"Total Free Clusters:", "3"},
                                           {"Largest Consecutive Free Block:", "3"},
                                           {"Largest Consecutive Occupied Block:", "2"}}));
  EXPECT_TRUE(display.boxes.empty());
  EXPECT_EQ(volume.bitmap_reads, 2);
}

TEST(AnalyzeVolume, BitsPastTheLastClusterAreNeverRead) {
  // 45 clusters: 40 in use over whole bytes, then 5 free in the last byte,
  // whose three bits past the end hold garbage.
  for (uint8_t garbage : {0x00, 0xE0, 0xA0}) {
    BitmapVolume volume(45, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, garbage});
    RecordingDisplay display;
    ASSERT_EQ(AnalyzeVolume(&volume, display, VolumeAnalysisMode::kFillLists), 0);
    EXPECT_EQ(display.allocation_rows, (std::vector<Row>{{0, 40, 1}, {40, 5, 0}}))
        << "garbage " << int(garbage);
  }
  // A run of whole used bytes that reaches into the partial byte stops at n.
  BitmapVolume reaching(43, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  RecordingDisplay display;
  ASSERT_EQ(AnalyzeVolume(&reaching, display, VolumeAnalysisMode::kFillLists), 0);
  EXPECT_EQ(display.allocation_rows, (std::vector<Row>{{0, 43, 1}}));
  EXPECT_EQ(SummaryValue(display, "Total Disk Clusters:"), "43");
  EXPECT_EQ(SummaryValue(display, "Largest Consecutive Free Block:"), "0");
}

TEST(AnalyzeVolume, TableKeepsTheLongestRunsAndTheEarlierOfEqualOnes) {
  // Free runs of 5, 9, 2, 9, 7 in cluster order, each behind one used cluster.
  BitmapVolume five =
      BitmapVolume::FromBits("1" "00000" "1" "000000000" "1" "00" "1" "000000000" "1" "0000000");
  FreeRun table[3];
  RecordingDisplay display;
  ASSERT_EQ(AnalyzeVolume(&five, display, VolumeAnalysisMode::kQuiet, nullptr, table, 3), 0);
  EXPECT_EQ(std::vector<FreeRun>(table, table + 3),
            (std::vector<FreeRun>{{7, 9}, {20, 9}, {30, 7}}));

  // 4, 6, 4 into two records: the later 4 does not displace the earlier.
  BitmapVolume three = BitmapVolume::FromBits("0000" "1" "000000" "1" "0000");
  FreeRun pair[2];
  ASSERT_EQ(AnalyzeVolume(&three, display, VolumeAnalysisMode::kQuiet, nullptr, pair, 2), 0);
  EXPECT_EQ(std::vector<FreeRun>(pair, pair + 2), (std::vector<FreeRun>{{5, 6}, {0, 4}}));

  // More records than free runs: the rest stay zero and come last.
  FreeRun wide[5] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}};
  ASSERT_EQ(AnalyzeVolume(&three, display, VolumeAnalysisMode::kQuiet, nullptr, wide, 5), 0);
  EXPECT_EQ(std::vector<FreeRun>(wide, wide + 5),
            (std::vector<FreeRun>{{5, 6}, {0, 4}, {12, 4}, {0, 0}, {0, 0}}));
  EXPECT_TRUE(display.allocation_rows.empty());
  EXPECT_TRUE(display.summary_rows.empty());
}

TEST(AnalyzeVolume, FullVolumeHasNoFreeRowAndLeavesTheTableZero) {
  BitmapVolume full(20, {0xFF, 0xFF, 0x0F});
  RecordingDisplay display;
  uint64_t free_total = 99;
  FreeRun table[2] = {{7, 7}, {8, 8}};
  ASSERT_EQ(AnalyzeVolume(&full, display, VolumeAnalysisMode::kFillLists, &free_total, table, 2), 0);
  EXPECT_EQ(display.allocation_rows, (std::vector<Row>{{0, 20, 1}}));
  EXPECT_EQ(free_total, 0u);
  EXPECT_EQ(SummaryValue(display, "Total Free Clusters:"), "0");
  EXPECT_EQ(SummaryValue(display, "Largest Consecutive Free Block:"), "0");
  EXPECT_EQ(table[0], (FreeRun{0, 0}));
  EXPECT_EQ(table[1], (FreeRun{0, 0}));
}

TEST(AnalyzeVolume, ClusterSizeTextsSwitchToKilobytesAtTenThousandBytes) {
  EXPECT_EQ(FormatClusterSize(512), "512 Bytes");
  EXPECT_EQ(FormatClusterSize(4096), "4096 Bytes");
  EXPECT_EQ(FormatClusterSize(8192), "8192 Bytes");
  EXPECT_EQ(FormatClusterSize(9999), "9999 Bytes");
  EXPECT_EQ(FormatClusterSize(10000), "10 KB");
  EXPECT_EQ(FormatClusterSize(16384), "16 KB");
  EXPECT_EQ(FormatClusterSize(65536), "64 KB");

  BitmapVolume volume = BitmapVolume::FromBits("10");
  volume.sectors_per_cluster = 128;  // 128 x 512 = 64 KB
  RecordingDisplay display;
  ASSERT_EQ(AnalyzeVolume(&volume, display, VolumeAnalysisMode::kFillLists), 0);
  EXPECT_EQ(SummaryValue(display, "Cluster Size:"), "64 KB");
}

// One bit at a time, and the table filled by rescanning it: the plain reading
// of the rules, for comparison.
struct Reference {
  std::vector<Row> rows;
  std::vector<FreeRun> table;
  uint64_t free = 0;
};
Reference ReferenceAnalysis(const std::vector<uint8_t>& bytes, uint64_t n, std::size_t count) {
  Reference ref;
  ref.table.assign(count, FreeRun{});
  std::size_t shortest = 0;
  auto bit = [&](uint64_t p) { return (bytes[p / 8] >> (p % 8)) & 1u; };
  for (uint64_t p = 0; p < n;) {
    uint64_t first = p;
    unsigned state = bit(p);
    while (p < n && bit(p) == state) ++p;
    uint64_t length = p - first;
    ref.rows.push_back({first, length, state});
    if (state) continue;
    ref.free += length;
    if (count && length > ref.table[shortest].length) {
      ref.table[shortest] = {first, length};
      shortest = 0;
      for (std::size_t i = 1; i < count; ++i)
        if (ref.table[i].length < ref.table[shortest].length) shortest = i;
    }
  }
  std::stable_sort(ref.table.begin(), ref.table.end(),
                   [](const FreeRun& a, const FreeRun& b) { return a.length > b.length; });
  return ref;
}

// Runs of mixed lengths, so long runs, word boundaries and runs inside a
// word all occur; `short_runs` of them at most 6 long.
std::vector<uint8_t> RandomLayout(std::mt19937& random, uint64_t n, int short_runs_percent) {
  std::vector<uint8_t> bytes((n + 7) / 8 + 1);
  for (uint64_t p = 0; p < bytes.size() * 8;) {
    const bool short_run = static_cast<int>(random() % 100) < short_runs_percent;
    uint64_t length = 1 + random() % (short_run ? 6 : random() % 4 ? 90 : 5000);
    bool used = random() % 2;
    for (uint64_t i = p; i < p + length && i < bytes.size() * 8; ++i)
      if (used) bytes[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    p += length;
  }
  return bytes;
}

// With the lists and without them (where runs inside a word may only be
// counted), on small layouts, on the worst one (every other cluster in use,
// then a long run that makes the short ones count again) and on volumes
// read in several pieces.
TEST(AnalyzeVolume, AgreesWithABitByBitWalkOnRandomLayouts) {
  std::mt19937 random(7);
  for (int round = 0; round < 333; ++round) {
    uint64_t n = 1 + random() % 700;
    std::vector<uint8_t> bytes;
    if (round < 300) {
      bytes = RandomLayout(random, n, 50);
    } else if (round < 330) {
      n = 64 * (1 + random() % 40) + random() % 64;
      bytes.assign((n + 7) / 8 + 1, random() % 2 ? 0x55 : 0xAA);
      const uint64_t long_run = random() % n;
      for (uint64_t i = long_run; i < std::min(n, long_run + 1 + random() % 200); ++i)
        bytes[i / 8] &= static_cast<uint8_t>(~(1u << (i % 8)));
    } else {
      n = (uint64_t{3} << 23) + random() % 5000;  // three pieces and a bit
      bytes = RandomLayout(random, n, 90);
    }
    std::size_t count = random() % 6;
    Reference ref = ReferenceAnalysis(bytes, n, count);
    BitmapVolume volume(n, bytes);
    for (VolumeAnalysisMode mode : {VolumeAnalysisMode::kFillLists, VolumeAnalysisMode::kQuiet}) {
      RecordingDisplay display;
      std::vector<FreeRun> table(count);
      uint64_t free_total = 0;
      ASSERT_EQ(AnalyzeVolume(&volume, display, mode, &free_total, table.data(), count), 0);
      if (mode == VolumeAnalysisMode::kFillLists) {
        ASSERT_EQ(display.allocation_rows, ref.rows) << "round " << round;
        uint64_t longest[2] = {0, 0};
        for (const Row& row : ref.rows) longest[row.in_use] = std::max(longest[row.in_use], row.length);
        EXPECT_EQ(SummaryValue(display, "Largest Consecutive Free Block:"), std::to_string(longest[0]));
        EXPECT_EQ(SummaryValue(display, "Largest Consecutive Occupied Block:"), std::to_string(longest[1]));
      }
      ASSERT_EQ(free_total, ref.free) << "round " << round;
      // Runs of equal length may stand in either order; the kept set is exact.
      auto by_place = [](std::vector<FreeRun> runs) {
        std::sort(runs.begin(), runs.end(),
                  [](const FreeRun& a, const FreeRun& b) { return a.lcn < b.lcn || (a.lcn == b.lcn && a.length < b.length); });
        return runs;
      };
      ASSERT_EQ(by_place(table), by_place(ref.table)) << "round " << round;
      for (std::size_t i = 1; i < count; ++i) ASSERT_GE(table[i - 1].length, table[i].length);
    }
  }
}

TEST(AnalyzeVolume, QuietModeFillsTheSameTableAndTotalWithoutRows) {
  MemoryVolume::Options options;
  options.cluster_count = 5000;
  auto memory = MemoryVolume::Create(options);
  ASSERT_EQ(memory->MarkUnmovable(0, 100), 0u);
  ASSERT_EQ(memory->MarkUnmovable(300, 1000), 0u);
  ASSERT_EQ(memory->MarkUnmovable(1500, 7), 0u);
  std::unique_ptr<Volume> volume;
  ASSERT_EQ(memory->OpenVolume(&volume), 0u);

  FreeRun loud[3], quiet[3];
  uint64_t loud_free = 0, quiet_free = 0;
  RecordingDisplay with_lists, without;
  ASSERT_EQ(AnalyzeVolume(volume.get(), with_lists, VolumeAnalysisMode::kFillLists, &loud_free, loud, 3), 0);
  ASSERT_EQ(AnalyzeVolume(volume.get(), without, VolumeAnalysisMode::kQuiet, &quiet_free, quiet, 3), 0);
  EXPECT_EQ(std::vector<FreeRun>(quiet, quiet + 3), std::vector<FreeRun>(loud, loud + 3));
  EXPECT_EQ(std::vector<FreeRun>(quiet, quiet + 3),
            (std::vector<FreeRun>{{1507, 3493}, {100, 200}, {1300, 200}}));
  EXPECT_EQ(quiet_free, memory->FreeClusters());
  EXPECT_EQ(loud_free, quiet_free);
  EXPECT_EQ(with_lists.allocation_rows.size(), 6u);
  EXPECT_EQ(with_lists.summary_rows.size(), 6u);
  EXPECT_TRUE(without.allocation_rows.empty());
  EXPECT_TRUE(without.summary_rows.empty());
}

struct FailureCase {
  const char* name;
  void (*arrange)(BitmapVolume&);
  const char* caption;
  uint32_t code;
  BoxIcon icon;
  int reads;
};

class AnalyzeVolumeFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(AnalyzeVolumeFailure, ShowsOneBoxWithoutOwnerAndLeavesEverythingEmpty) {
  const FailureCase& c = GetParam();
  BitmapVolume volume = BitmapVolume::FromBits("1100011000000000000000000000000000000");
  c.arrange(volume);
  RecordingDisplay display;
  uint64_t free_total = 77;
  FreeRun table[2] = {{1, 1}, {2, 2}};
  EXPECT_EQ(AnalyzeVolume(&volume, display, VolumeAnalysisMode::kFillLists, &free_total, table, 2), -1);
  ASSERT_EQ(display.boxes.size(), 1u);
  EXPECT_EQ(display.boxes[0].caption, c.caption);
  EXPECT_EQ(display.boxes[0].code, c.code);
  EXPECT_EQ(display.boxes[0].owner, BoxOwner::kNone);
  EXPECT_EQ(display.boxes[0].icon, c.icon);
  EXPECT_EQ(volume.bitmap_reads, c.reads);
  EXPECT_TRUE(display.allocation_rows.empty());
  EXPECT_TRUE(display.summary_rows.empty());
  EXPECT_EQ(free_total, 77u);
  EXPECT_EQ(table[0], (FreeRun{0, 0}));
  EXPECT_EQ(table[1], (FreeRun{0, 0}));
}

INSTANTIATE_TEST_SUITE_P(
    EachCall, AnalyzeVolumeFailure,
    ::testing::Values(
        FailureCase{"geometry", [](BitmapVolume& v) { v.geometry_error = kErrorNotReady; },
                    "GetDiskFreeSpace() Error", kErrorNotReady, BoxIcon::kNone, 0},
        FailureCase{"first_read",
                    [](BitmapVolume& v) { v.bitmap_errors = {kErrorInvalidFunction}; },
                    "FSCTL_GET_VOLUME_BITMAP Error", kErrorInvalidFunction, BoxIcon::kNone, 1},
        FailureCase{"second_read_more_data",
                    [](BitmapVolume& v) { v.bitmap_errors = {0, kErrorMoreData}; },
                    "FSCTL_GET_VOLUME_BITMAP", kErrorMoreData, BoxIcon::kError, 2},
        FailureCase{"negative_size", [](BitmapVolume& v) { v.header_size = -8; },
                    "FSCTL_GET_VOLUME_BITMAP Error", kErrorInvalidData, BoxIcon::kNone, 1},
        // A volume far larger than its answers: the later pieces fail, and
        // the rows of the first are not shown.
        FailureCase{"later_piece", [](BitmapVolume& v) { v.header_size = int64_t{1} << 62; },
                    "FSCTL_GET_VOLUME_BITMAP", kErrorInvalidParameter, BoxIcon::kError, 3}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(AnalyzeVolume, NoVolumeIsAFailureNotACrash) {
  RecordingDisplay display;
  EXPECT_EQ(AnalyzeVolume(nullptr, display, VolumeAnalysisMode::kQuiet), -1);
  ASSERT_EQ(display.boxes.size(), 1u);
  EXPECT_EQ(display.boxes[0].caption, "GetDiskFreeSpace() Error");
}

TEST(AnalyzeVolume, TitleNamesTheVolume) {
  BitmapVolume volume = BitmapVolume::FromBits("1");
  EXPECT_EQ(VolumeReportTitle(volume), "Disk Report for: (bitmap.img)");
}

}  // namespace
}  // namespace shardix
