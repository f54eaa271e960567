// The result display's arithmetic and texts, and the fragment list's sort.
#include <gtest/gtest.h>

#include "analysis/file_display.h"
#include "analysis/fragment_sort.h"
#include "tests/support/recording_display.h"

namespace shardix {
namespace {

using test::RecordingDisplay;

TEST(FileDisplay, SizeTextsAtTheirThresholds) {
  EXPECT_EQ(FormatSizeText(999), "999 Bytes");
  EXPECT_EQ(FormatSizeText(1000), "1.0 KB");
  EXPECT_EQ(FormatSizeText(1000 * 1024 - 1), "1000.0 KB");
  EXPECT_EQ(FormatSizeText(1000 * 1024), "1.0 MB");
  EXPECT_EQ(FormatFileSizeLine(0, 0, 0), "0 Bytes (0 Clusters) in 0 fragments");
  EXPECT_EQ(FormatFileSizeLine(512, 0, 0), "512 Bytes (stored in Master File Table)");
  EXPECT_EQ(FileNameOfPath("/srv/disk.img/docs/a.bin"), "a.bin");
  EXPECT_EQ(FileNameOfPath("C:\\data\\x.bin"), "x.bin");
}

TEST(FileDisplay, PercentageUsesSinglePrecisionSteps) {
  EXPECT_EQ(FormatPercent(PercentFragmented(2, 100, 1000000, 1000)), "0.01414%");
  EXPECT_EQ(FormatPercent(PercentFragmented(1, 64, 1000000, 0)), "0.00000%");
  EXPECT_EQ(PercentFragmented(3, 0, 1000, 10), 0.0f);
  RecordingDisplay display;
  ShowPercentFragmented(display, TextField::kPercentAfter, ~uint64_t{0}, 1, 1, 1);
  EXPECT_EQ(display.Text(TextField::kPercentAfter), "");
}

TEST(FileDisplay, ClusterBarSpansScaleAndAreAtLeastAPixel) {
  EXPECT_EQ(ClusterBarSpan(500, 100, 10, 1000).left, 50);
  EXPECT_EQ(ClusterBarSpan(500, 100, 10, 1000).right, 55);
  BarSpan narrow = ClusterBarSpan(500, 999999, 1, 1000000);
  EXPECT_EQ(narrow.right - narrow.left, 1);
  BarSpan end = ClusterBarSpan(500, 999, 1, 1000);
  EXPECT_EQ(end.left, 499);
  EXPECT_EQ(end.right, 500);
}

TEST(FileDisplay, FileBarSamplesLongLists) {
  RecordingDisplay display;
  for (uint64_t i = 0; i < 120; ++i) display.rows.push_back({i + 1, 1, i * 10});
  DrawFileBar(display, ClusterBar::kAfter, 10000);
  std::vector<std::size_t> expected;
  for (std::size_t i = 0; i < 120; i += 2) expected.push_back(i);
  EXPECT_EQ(display.read_rows, expected);
  EXPECT_EQ(display.FillsOf(ClusterBar::kAfter, BarColour::kRed).size(), 60u);

  RecordingDisplay short_list;
  for (uint64_t i = 0; i < 49; ++i) short_list.rows.push_back({i + 1, 1, i});
  DrawFileBar(short_list, ClusterBar::kBefore, 100);
  EXPECT_EQ(short_list.read_rows.size(), 49u);
}

TEST(FileDisplay, ResetEmptiesEverythingAndMaxSetsTheRange) {
  RecordingDisplay display;
  display.rows.push_back({1, 1, 1});
  display.texts[TextField::kFileName] = "x";
  ResetFileDisplay(display);
  EXPECT_TRUE(display.rows.empty());
  EXPECT_EQ(display.Text(TextField::kFileName), "");
  EXPECT_EQ(display.FillsOf(ClusterBar::kBefore, BarColour::kWhite).size(), 1u);
  EXPECT_EQ(display.FillsOf(ClusterBar::kAfter, BarColour::kWhite).size(), 1u);

  ShowMaxFragments(display, 7, (uint64_t{1} << 32) + 5);
  EXPECT_EQ(display.Text(TextField::kMaxValue), "4294967301");
  EXPECT_EQ(display.range_max, 5);  // the range takes the low 32 bits
  EXPECT_EQ(display.range_pos, 7);
}

TEST(FragmentSort, ClicksFlipOrPickAColumn) {
  FragmentSortState state;
  EXPECT_EQ(NextFragmentSortValue(state, 0), -1);  // the list starts sorted ascending by number
  EXPECT_EQ(NextFragmentSortValue(state, 0), 1);
  EXPECT_EQ(NextFragmentSortValue(state, 1), 2);
  EXPECT_EQ(NextFragmentSortValue(state, 0), 1);
  EXPECT_EQ(NextFragmentSortValue(state, 2), 3);
  EXPECT_EQ(NextFragmentSortValue(state, 2), -3);

  FragmentRow low{1, 5, 2147483647u}, high{2, 5, 4000000000u};
  EXPECT_LT(CompareFragmentRows(low, high, 3), 0);  // full 64-bit values, not int
  EXPECT_GT(CompareFragmentRows(low, high, -3), 0);
  EXPECT_EQ(CompareFragmentRows(low, high, 2), 0);
  EXPECT_GT(CompareFragmentRows(high, low, 1), 0);
}

}  // namespace
}  // namespace shardix
