// The disk report's bytes, saving it, and sorting the allocation list.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "report/disk_report.h"
#include "report/volume_analysis.h"
#include "tests/report/bitmap_volume.h"
#include "tests/support/recording_display.h"

namespace shardix {
namespace {

namespace fs = std::filesystem;
using test::BitmapVolume;
using test::RecordingDisplay;

StoredReportLists ListsOf(const RecordingDisplay& display) {
  StoredReportLists lists;
  for (const auto& [label, value] : display.summary_rows) lists.summary.push_back({label, value});
  for (const auto& row : display.allocation_rows)
    lists.allocation.push_back({row.first_lcn, row.length, row.in_use != 0});
  return lists;
}

StoredReportLists AnalysedLists(const std::string& bits) {
  BitmapVolume volume = BitmapVolume::FromBits(bits);
  RecordingDisplay display;
  EXPECT_EQ(AnalyzeVolume(&volume, display, VolumeAnalysisMode::kFillLists), 0);
  return ListsOf(display);
}

const char kHeadings[] =
    "\r\n"
    "--------------------------------------------------------------------------------\r\n"
    "Cluster allocation information:\r\n"
    "\r\n"
    "LCN Range                # Clusters     Free|In-Use\r\n";

TEST(DiskReport, SixClusterVolumeGivesTheseExactBytes) {
  std::string expected = std::string(
      "Disk summary:\r\n"
      "\r\n"
      "\tCluster Size:                                     4096 Bytes\r\n"
      "\tTotal Disk Clusters:                              6\r\n"
      "\tTotal Occupied Clusters:                          3\r\n"
      "\tTotal Free Clusters:                              3\r\n"
      "\tLargest Consecutive Free Block:                   3\r\n"
      "\tLargest Consecutive Occupied Block:               2\r\n") +
      kHeadings +
      "0 - 1                    2              In-Use\r\n"
      "2 - 4                    3              Free  \r\n"
      "5 - 5                    1              In-Use\r\n";
  EXPECT_EQ(DiskReportText(AnalysedLists("110001")), expected);
}

TEST(DiskReport, EmptyListsGiveHeadingsRuleAndHeaderOnly) {
  StoredReportLists empty;
  EXPECT_EQ(DiskReportText(empty), std::string("Disk summary:\r\n\r\n") + kHeadings);
}

TEST(DiskReport, LongCellsAreWrittenWholeAndPushTheLineRight) {
  StoredReportLists lists;
  lists.allocation.push_back({18446744073709551000ull, 616, false});
  EXPECT_EQ(DiskReportText(lists).substr(std::string("Disk summary:\r\n\r\n").size() +
                                         std::strlen(kHeadings)),
            "18446744073709551000 - 18446744073709551615616            Free  \r\n");
}

class SaveDiskReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("shardix-report-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  static void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  bool OnlyFileIs(const std::string& name) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    return names == std::vector<std::string>{name};
  }

  fs::path dir_;
  RecordingDisplay display_;
};

TEST_F(SaveDiskReportTest, WritesTheReportBytesAndReplacesAnOlderFileWhole) {
  StoredReportLists lists = AnalysedLists("110001");
  fs::path path = dir_ / "report";  // no extension is added
  Write(path, std::string(5000, 'x'));
  EXPECT_EQ(SaveDiskReport(display_, lists, path.string()), 0);
  EXPECT_EQ(Read(path), DiskReportText(lists));
  EXPECT_TRUE(OnlyFileIs("report"));
  EXPECT_TRUE(display_.boxes.empty());
}

// Enough rows for several of the blocks the report is written in: every
// line is what the printf formats of the rows give.
TEST_F(SaveDiskReportTest, ReportOfManyBlocksHoldsEveryRowAsPrintfFormatsIt) {
  StoredReportLists lists;
  std::mt19937_64 random(3);
  std::string expected_rows;
  char line[256], range[64], clusters[32];
  for (int i = 0; i < 60000; ++i) {
    const uint64_t first = random() >> (random() % 64), length = 1 + (random() >> (random() % 64 | 1));
    const bool in_use = random() % 2;
    lists.allocation.push_back({first, length, in_use});
    std::snprintf(range, sizeof range, "%llu - %llu", static_cast<unsigned long long>(first),
                  static_cast<unsigned long long>(first + length - 1));
    std::snprintf(clusters, sizeof clusters, "%llu", static_cast<unsigned long long>(length));
    std::snprintf(line, sizeof line, "%-25s%-15s%-6s\r\n", range, clusters, in_use ? "In-Use" : "Free");
    expected_rows += line;
  }
  fs::path path = dir_ / "large.txt";
  ASSERT_EQ(SaveDiskReport(display_, lists, path.string()), 0);
  const std::string saved = Read(path);
  ASSERT_GT(saved.size(), std::size_t{3} << 20);
  EXPECT_EQ(saved, std::string("Disk summary:\r\n\r\n") + kHeadings + expected_rows);
}

TEST_F(SaveDiskReportTest, FolderThatDoesNotExistShowsTheSaveErrorBox) {
  fs::path path = dir_ / "missing" / "report.txt";
  EXPECT_EQ(SaveDiskReport(display_, AnalysedLists("10"), path.string()), -1);
  ASSERT_EQ(display_.boxes.size(), 1u);
  EXPECT_EQ(display_.boxes[0].caption, "File save error");
  EXPECT_EQ(display_.boxes[0].owner, BoxOwner::kDialog);
  EXPECT_EQ(display_.boxes[0].icon, BoxIcon::kNone);
#ifdef _WIN32
  EXPECT_EQ(display_.boxes[0].code, kErrorPathNotFound);  // as CreateFile says it
#else
  EXPECT_EQ(display_.boxes[0].code, kErrorFileNotFound);
#endif
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(SaveDiskReportTest, PathNamingAFolderIsRefused) {
  fs::create_directory(dir_ / "folder");
  EXPECT_EQ(SaveDiskReport(display_, AnalysedLists("10"), (dir_ / "folder").string()), -1);
  ASSERT_EQ(display_.boxes.size(), 1u);
  EXPECT_NE(display_.boxes[0].code, 0u);
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_TRUE(OnlyFileIs("folder"));
}

#ifndef _WIN32
// Creating or overwriting the named file is all a save does: another file
// that a fixed scratch name would have hit stays, and a report with a second
// hard link is written in place, so both names show the new report.
TEST_F(SaveDiskReportTest, OverwritesTheNamedFileInPlaceOfItsLinksAndTouchesNoOtherFile) {
  StoredReportLists lists = AnalysedLists("1100");
  fs::path path = dir_ / "report.txt";
  Write(path, "old report");
  Write(dir_ / "report.txt.partial", "someone else's");
  fs::create_hard_link(path, dir_ / "linked.txt");
  EXPECT_EQ(SaveDiskReport(display_, lists, path.string()), 0);
  EXPECT_EQ(Read(path), DiskReportText(lists));
  EXPECT_EQ(Read(dir_ / "linked.txt"), DiskReportText(lists));
  EXPECT_EQ(Read(dir_ / "report.txt.partial"), "someone else's");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
  EXPECT_TRUE(display_.boxes.empty());
}
#endif

// Lists that give out part way through, as a list whose rows cannot be
// fetched any more would.
class FailingLists : public StoredReportLists {
 public:
  bool AllocationRowNumbers(std::size_t index, AllocationRow* row) const override {
    if (index == 2) throw std::bad_alloc();
    return StoredReportLists::AllocationRowNumbers(index, row);
  }
};

TEST_F(SaveDiskReportTest, FailureMidwayLeavesNoPartialReportAndTheOldOneIntact) {
  FailingLists lists;
  static_cast<StoredReportLists&>(lists) = AnalysedLists("1100011");
  fs::path path = dir_ / "report.txt";
  Write(path, "old report");
  EXPECT_EQ(SaveDiskReport(display_, lists, path.string()), -1);
  ASSERT_EQ(display_.boxes.size(), 1u);
  EXPECT_EQ(display_.boxes[0].caption, "File save error");
  EXPECT_EQ(display_.boxes[0].code, kErrorNotEnoughMemory);
  EXPECT_EQ(Read(path), "old report");
  EXPECT_TRUE(OnlyFileIs("report.txt"));
}

std::vector<uint64_t> Firsts(const StoredReportLists& lists) {
  std::vector<uint64_t> firsts;
  for (const AllocationRow& row : lists.allocation) firsts.push_back(row.first_lcn);
  return firsts;
}

// Runs: 0-1 used (2), 2-4 free (3), 5 used (1), 6-9 free (4), 10-11 used (2).
const char kFiveRuns[] = "110001000011";

TEST(AllocationSort, FirstClickOnLcnRangeReversesAndSecondRestores) {
  AllocationSortState state;  // as at program start
  StoredReportLists lists = AnalysedLists(kFiveRuns);
  lists.SortAllocation(state, 0);
  EXPECT_EQ(Firsts(lists), (std::vector<uint64_t>{10, 6, 5, 2, 0}));
  lists.SortAllocation(state, 0);
  EXPECT_EQ(Firsts(lists), (std::vector<uint64_t>{0, 2, 5, 6, 10}));
}

TEST(AllocationSort, ClustersThenStateSortAscendingWithFreeFirst) {
  AllocationSortState state;
  StoredReportLists lists = AnalysedLists(kFiveRuns);
  lists.SortAllocation(state, 1);
  EXPECT_EQ(Firsts(lists), (std::vector<uint64_t>{5, 0, 10, 2, 6}));
  lists.SortAllocation(state, 2);
  EXPECT_EQ(Firsts(lists), (std::vector<uint64_t>{2, 6, 5, 0, 10}));
  EXPECT_EQ(DiskReportText(lists).substr(DiskReportText(lists).find("LCN Range")),
            "LCN Range                # Clusters     Free|In-Use\r\n"
            "2 - 4                    3              Free  \r\n"
            "6 - 9                    4              Free  \r\n"
            "5 - 5                    1              In-Use\r\n"
            "0 - 1                    2              In-Use\r\n"
            "10 - 11                  2              In-Use\r\n");
}

TEST(AllocationSort, StateOutlivesTheListsItSorted) {
  AllocationSortState state;
  AnalysedLists(kFiveRuns).SortAllocation(state, 1);  // one opening, then closed
  StoredReportLists reopened = AnalysedLists(kFiveRuns);
  EXPECT_EQ(Firsts(reopened), (std::vector<uint64_t>{0, 2, 5, 6, 10}));
  reopened.SortAllocation(state, 1);  // the remembered column: now descending
  EXPECT_EQ(Firsts(reopened), (std::vector<uint64_t>{6, 2, 0, 10, 5}));
  EXPECT_EQ(NextAllocationSortKey(state, 1), 2);
  EXPECT_EQ(NextAllocationSortKey(state, 2), 3);
  EXPECT_EQ(NextAllocationSortKey(state, 2), -3);
}

TEST(AllocationSort, CellTextsOrderAsTheRowsTheyShow) {
  std::mt19937_64 random(11);
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (int i = 0; i < 2000; ++i) {
    AllocationRow a{random() % 5000, 1 + random() % 50, random() % 2 == 0};
    AllocationRow b{random() % 2 ? a.first_lcn : random() % 5000,
                    random() % 2 ? a.length : 1 + random() % 50, random() % 2 == 0};
    if (i % 7 == 0) a.first_lcn = ~uint64_t{0} - 100;  // beyond 2^63
    AllocationRowText ta = FormatAllocationRow(a), tb = FormatAllocationRow(b);
    const std::string* cells_a[] = {&ta.range, &ta.clusters, &ta.state};
    const std::string* cells_b[] = {&tb.range, &tb.clusters, &tb.state};
    for (int key : {1, -1, 2, -2, 3, -3}) {
      int column = std::abs(key) - 1;
      ASSERT_EQ(sign(CompareAllocationRows(cells_a[column]->c_str(), cells_b[column]->c_str(), key)),
                sign(CompareAllocationRows(a, b, key)))
          << ta.range << " / " << tb.range << " key " << key;
    }
  }
}

}  // namespace
}  // namespace shardix
