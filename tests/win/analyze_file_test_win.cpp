// Analyze File in the main window on simulated volumes: the controls it
// fills, its refusals, the fragment list's sorting and the cluster bars.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>


#include "analysis/file_display.h"
#include "app/app_state_win.h"
#include "job_test_support_win.h"
#include "resource.h"
#include "test_support_win.h"
#include "volume/error_codes.h"

namespace shardix::test {
namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlue = RGB(0, 0, 255);

using Rows = std::vector<std::array<std::string, 3>>;

class AnalyzeFileWindow : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    g_app.fragment_sort = {};
  }
  HWND List() const { return Item(IDC_FRAGMENT_LIST); }

  TestVolume volume_{"an", 10000};
};

int CountColour(const std::vector<COLORREF>& pixels, COLORREF colour) {
  int count = 0;
  for (COLORREF pixel : pixels) count += pixel == colour;
  return count;
}

TEST_F(AnalyzeFileWindow, FillsEveryResultControlForAFileOfTwoFragments) {
  ASSERT_EQ(volume_->AddFile("two.bin", 100 * 4096, {{0, 60, 1000}, {60, 40, 2000}}), 0u);
  Analyze(window_, "  " + volume_.Path("two.bin") + " ");

  EXPECT_EQ(ListCells(List()), (Rows{{"1", "60", "1000"}, {"2", "40", "2000"}}));
  EXPECT_EQ(ItemText(IDC_FILE_NAME_VALUE), "two.bin");
  EXPECT_EQ(ItemText(IDC_FILE_SIZE_VALUE), "400.0 KB (100 Clusters) in 2 fragments");
  EXPECT_EQ(ItemText(IDC_PERCENT_BEFORE), FormatPercent(PercentFragmented(2, 100, 10000, 1000)));
  EXPECT_EQ(ItemText(IDC_PERCENT_AFTER), "");
  EXPECT_EQ(ItemText(IDC_MAX_VALUE), "100");
  EXPECT_EQ(ItemText(IDC_STATUS), "");
  EXPECT_EQ(ItemText(IDC_FILE_NAME), "  " + volume_.Path("two.bin") + " ") << "the edit keeps the text as typed";
  int low = -1, high = -1;
  SendMessageA(Item(IDC_FRAGMENT_COUNT_UPDOWN), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
               reinterpret_cast<LPARAM>(&high));
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 100);
  EXPECT_EQ(SendMessageA(Item(IDC_FRAGMENT_COUNT_UPDOWN), UDM_GETPOS32, 0, 0), 2);
  for (int id : {IDC_FRAGMENT, IDC_DEFRAGMENT, IDC_VOLUME_INFO, IDC_FRAGMENT_COUNT, IDC_PLACEMENT_METHOD,
                 IDC_FRAGMENT_SIZE, IDC_ANALYZE_FILE}) {
    EXPECT_TRUE(Enabled(window_, id)) << id;
  }
  ASSERT_NE(g_app.session.file, nullptr);
  ASSERT_NE(g_app.session.volume, nullptr);

  // The Before bar: blue where the two fragments lie, white elsewhere; the
  // After bar all white.
  UpdateWindow(window_);
  const std::vector<COLORREF> before = BarPixels(Item(IDC_BEFORE_BAR));
  ASSERT_GT(before.size(), 100u);
  const int width = static_cast<int>(before.size());
  EXPECT_EQ(before[1000 * width / 10000], kBlue);
  EXPECT_EQ(before[2000 * width / 10000], kBlue);
  EXPECT_EQ(before[5000 * width / 10000], kWhite);
  EXPECT_EQ(before[0], kWhite);
  EXPECT_EQ(CountColour(before, kWhite) + CountColour(before, kBlue), width);
  const std::vector<COLORREF> after = BarPixels(Item(IDC_AFTER_BAR));
  EXPECT_EQ(CountColour(after, kWhite), static_cast<int>(after.size()));
}

TEST_F(AnalyzeFileWindow, OneFragmentLeavesDefragmentOffAndANewAnalysisStartsAfresh) {
  ASSERT_EQ(volume_->AddFile("one.bin", 999, {{0, 1, 500}}), 0u);
  ASSERT_EQ(volume_->AddFile("two.bin", 8 * 4096, {{0, 4, 100}, {4, 4, 300}}), 0u);
  Analyze(window_, volume_.Path("two.bin"));
  ASSERT_EQ(ListCells(List()).size(), 2u);

  Analyze(window_, volume_.Path("one.bin"));
  EXPECT_EQ(ListCells(List()), (Rows{{"1", "1", "500"}}));
  EXPECT_EQ(ItemText(IDC_FILE_SIZE_VALUE), "999 Bytes (1 Clusters) in 1 fragments");
  EXPECT_EQ(ItemText(IDC_PERCENT_BEFORE), "0.00000%");
  EXPECT_EQ(ItemText(IDC_MAX_VALUE), "1");
  EXPECT_EQ(SendMessageA(Item(IDC_FRAGMENT_COUNT_UPDOWN), UDM_GETPOS32, 0, 0), 1);
  EXPECT_TRUE(Enabled(window_, IDC_FRAGMENT));
  EXPECT_TRUE(Enabled(window_, IDC_VOLUME_INFO));
  EXPECT_FALSE(Enabled(window_, IDC_DEFRAGMENT));
  // Only the new file's run is on the bar.
  const std::vector<COLORREF> before = BarPixels(Item(IDC_BEFORE_BAR));
  const int width = static_cast<int>(before.size());
  EXPECT_EQ(before[100 * width / 10000 + 1], kWhite);
  EXPECT_EQ(before[500 * width / 10000], kBlue);
}

// Each refusal: its text after "Error: " in red, the settings off.
struct Refusal {
  const char* what;
  std::function<std::string(TestVolume&)> prepare;  // returns the name to type
  const char* status;
  bool display_filled;
  const char* box;  // caption of the box shown before, if any
};

TEST_F(AnalyzeFileWindow, EveryRefusalShowsOnTheStatusLineInRedAndLocksTheSettings) {
  const std::vector<Refusal> refusals = {
      {"blank name", [](TestVolume&) { return std::string("   \t "); }, "Please enter a valid file to analyze.", false, nullptr},
      {"missing file", [](TestVolume& v) { return v.Path("none.bin"); }, "File not found", false, nullptr},
      {"missing volume", [](TestVolume&) { return std::string("memory:novolume/x.bin"); }, "Path not found", false, nullptr},
      {"file in use",
       [](TestVolume& v) {
         v->InjectFailure(MemoryOperation::kOpenFile, kErrorSharingViolation);
         return v.Path("used.bin");
       },
       "File is being used by another process", false, nullptr},
      {"access denied",
       [](TestVolume& v) {
         v->InjectFailure(MemoryOperation::kOpenFile, kErrorAccessDenied);
         return v.Path("used.bin");
       },
       "File access is denied", false, nullptr},
      {"empty file", [](TestVolume& v) { return v.Path("empty.bin"); }, "Files that are 0 Bytes in size cannot be fragmented.", true, nullptr},
      {"file in its record", [](TestVolume& v) { return v.Path("small.bin"); },
       "Files stored in the Master File Table (MFT) cannot be fragmented.", true, nullptr},
      {"no volume access",
       [](TestVolume& v) {
         v->InjectFailure(MemoryOperation::kOpenVolume, kErrorAccessDenied);
         return v.Path("used.bin");
       },
       "You must have administrative access to the volume to fragment this file.", true, nullptr},
      {"size unreadable",
       [](TestVolume& v) {
         v->InjectFailure(MemoryOperation::kGetSize, kErrorGenFailure);
         return v.Path("used.bin");
       },
       "Unable to analyze file", false, "GetFileSize() error"},
  };
  ASSERT_EQ(volume_->AddFile("used.bin", 8 * 4096, {{0, 4, 100}, {4, 4, 300}}), 0u);
  ASSERT_EQ(volume_->AddFile("empty.bin", 0, {}), 0u);
  ASSERT_EQ(volume_->AddResidentFile("small.bin", 512), 0u);

  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    // A good analysis first, so every refusal has something to switch off.
    Analyze(window_, volume_.Path("used.bin"));
    ASSERT_TRUE(Enabled(window_, IDC_FRAGMENT));

    Analyze(window_, refusal.prepare(volume_));
    volume_->ClearFailures();
    EXPECT_EQ(ItemText(IDC_STATUS), std::string("Error: ") + refusal.status);
    EXPECT_TRUE(StatusShownInRed(window_));
    for (int id : {IDC_FRAGMENT, IDC_DEFRAGMENT, IDC_VOLUME_INFO, IDC_FRAGMENT_COUNT, IDC_SETTINGS_GROUP}) {
      EXPECT_FALSE(Enabled(window_, id)) << id;
    }
    EXPECT_TRUE(Enabled(window_, IDC_ANALYZE_FILE));
    EXPECT_EQ(ItemText(IDC_FILE_NAME_VALUE).empty(), !refusal.display_filled);
    if (refusal.box != nullptr) {
      ASSERT_EQ(TestUi().boxes.size(), 1u);
      EXPECT_EQ(TestUi().boxes[0].caption, refusal.box);
      EXPECT_EQ(TestUi().boxes[0].owner, window_);
      TestUi().boxes.clear();
    }
  }
  // The volume without access: list and texts filled, no percentage, the
  // Before bar white.
  Analyze(window_, volume_.Path("used.bin"));
  volume_->InjectFailure(MemoryOperation::kOpenVolume, kErrorAccessDenied);
  Analyze(window_, volume_.Path("used.bin"));
  EXPECT_EQ(ListCells(List()).size(), 2u);
  EXPECT_EQ(ItemText(IDC_PERCENT_BEFORE), "");
  EXPECT_EQ(ItemText(IDC_MAX_VALUE), "8");
  const std::vector<COLORREF> before = BarPixels(Item(IDC_BEFORE_BAR));
  EXPECT_EQ(CountColour(before, kWhite), static_cast<int>(before.size()));
}

TEST_F(AnalyzeFileWindow, ColumnClicksSortTheListAndTheRowsReadBackInTheShownOrder) {
  // Fragments of 30, 10, 50, 20, 40 clusters at descending LCNs.
  ASSERT_EQ(volume_->AddFile("five.bin", 150 * 4096,
                             {{0, 30, 9000}, {30, 10, 7000}, {40, 50, 5000}, {90, 20, 3000}, {110, 40, 1000}}),
            0u);
  Analyze(window_, volume_.Path("five.bin"));
  auto column = [&](int index) {
    std::vector<std::string> cells;
    for (const auto& row : ListCells(List())) cells.push_back(row[index]);
    return cells;
  };
  using Cells = std::vector<std::string>;
  ASSERT_EQ(column(0), (Cells{"1", "2", "3", "4", "5"}));

  ClickColumn(window_, IDC_FRAGMENT_LIST, 0);  // the start state is "Fragment #" ascending
  EXPECT_EQ(column(0), (Cells{"5", "4", "3", "2", "1"}));
  ClickColumn(window_, IDC_FRAGMENT_LIST, 0);
  EXPECT_EQ(column(0), (Cells{"1", "2", "3", "4", "5"}));
  ClickColumn(window_, IDC_FRAGMENT_LIST, 1);
  EXPECT_EQ(column(1), (Cells{"10", "20", "30", "40", "50"}));
  EXPECT_EQ(column(0), (Cells{"2", "4", "1", "5", "3"})) << "whole rows move together";
  ClickColumn(window_, IDC_FRAGMENT_LIST, 1);
  EXPECT_EQ(column(1), (Cells{"50", "40", "30", "20", "10"}));
  ClickColumn(window_, IDC_FRAGMENT_LIST, 2);
  EXPECT_EQ(column(2), (Cells{"1000", "3000", "5000", "7000", "9000"}));
  ClickColumn(window_, IDC_FRAGMENT_LIST, 0);
  EXPECT_EQ(column(0), (Cells{"1", "2", "3", "4", "5"})) << "another column starts ascending";

  // The sort state outlives the analysis: a new analysis lists in file
  // order, and the next click on "Fragment #" continues from the state.
  ClickColumn(window_, IDC_FRAGMENT_LIST, 2);
  Analyze(window_, volume_.Path("five.bin"));
  EXPECT_EQ(column(0), (Cells{"1", "2", "3", "4", "5"}));
  ClickColumn(window_, IDC_FRAGMENT_LIST, 2);
  EXPECT_EQ(column(2), (Cells{"9000", "7000", "5000", "3000", "1000"}));
}

TEST_F(AnalyzeFileWindow, BarsKeepTheirRunsWhenRepaintedOrResized) {
  ASSERT_EQ(volume_->AddFile("two.bin", 100 * 4096, {{0, 60, 1000}, {60, 40, 6000}}), 0u);
  Analyze(window_, volume_.Path("two.bin"));
  HWND bar = Item(IDC_BEFORE_BAR);
  UpdateWindow(window_);
  const std::vector<COLORREF> drawn = BarPixels(bar);

  // Covered and uncovered: the whole window is invalidated and repainted.
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT update;
  EXPECT_FALSE(GetUpdateRect(bar, &update, FALSE)) << "the bar painted itself";
  EXPECT_EQ(BarPixels(bar), drawn);

  // Resized (taller, and the bar wider): the runs keep their place on the
  // volume.
  SetWindowPos(bar, nullptr, 0, 0, 400, 20, SWP_NOMOVE | SWP_NOZORDER);
  PumpPendingMessages(window_);
  const std::vector<COLORREF> wider = BarPixels(bar);
  ASSERT_EQ(wider.size(), 400u);
  // Within a pixel of where each run lies on the wider bar.
  auto blue_near = [&](int x) { return wider[x - 1] == kBlue || wider[x] == kBlue || wider[x + 1] == kBlue; };
  EXPECT_TRUE(blue_near(1000 * 400 / 10000));
  EXPECT_TRUE(blue_near(6000 * 400 / 10000));
  EXPECT_EQ(wider[4000 * 400 / 10000], kWhite);
  EXPECT_EQ(CountColour(wider, kWhite) + CountColour(wider, kBlue), 400);
}

TEST_F(AnalyzeFileWindow, ColumnsLeaveEveryLcnVisibleWithAndWithoutAScrollBar) {
  ASSERT_EQ(volume_->AddFile("two.bin", 2 * 4096, {{0, 1, 9840}, {1, 1, 9990}}), 0u);
  ASSERT_EQ(volume_->AddFile("many.bin", 60 * 4096, SpreadRuns(60, 1, 9000, 3)), 0u);
  // The list has no scroll bar when the many rows arrive, and one after.
  Analyze(window_, volume_.Path("two.bin"));
  EXPECT_FALSE(ExpectEveryLcnFullyVisible(List()));
  Analyze(window_, volume_.Path("many.bin"));
  ASSERT_EQ(ListCells(List()).size(), 60u);
  EXPECT_TRUE(ExpectEveryLcnFullyVisible(List()));
  PumpPendingMessages(window_);  // nothing that comes later undoes it
  ExpectEveryLcnFullyVisible(List());
  // And back: the last column fills the width the scroll bar leaves.
  Analyze(window_, volume_.Path("two.bin"));
  EXPECT_FALSE(ExpectEveryLcnFullyVisible(List()));
  RECT client;
  GetClientRect(List(), &client);
  int widths = 0;
  for (int column = 0; column < 3; ++column) widths += static_cast<int>(SendMessageA(List(), LVM_GETCOLUMNWIDTH, column, 0));
  EXPECT_EQ(widths, client.right);
}

TEST_F(AnalyzeFileWindow, EnterInTheFileBoxAnalyzesTheFileAndEscapeDoesNothing) {
  ASSERT_EQ(volume_->AddFile("two.bin", 100 * 4096, {{0, 60, 1000}, {60, 40, 2000}}), 0u);
  SetDlgItemTextA(window_, IDC_FILE_NAME, volume_.Path("two.bin").c_str());
  SetFocus(Item(IDC_FILE_NAME));
  // The keys through the dialog keyboard handling, as the message loop does.
  auto press = [&](WPARAM key) {
    PostMessageA(Item(IDC_FILE_NAME), WM_KEYDOWN, key, 0);
    PostMessageA(Item(IDC_FILE_NAME), WM_KEYUP, key, 0xC0000001);
    EXPECT_FALSE(PumpPendingMessages(window_));
  };
  press(VK_ESCAPE);
  EXPECT_EQ(ListCells(List()).size(), 0u);
  EXPECT_EQ(ItemText(IDC_FILE_NAME_VALUE), "");
  press(VK_RETURN);
  EXPECT_EQ(ListCells(List()), (Rows{{"1", "60", "1000"}, {"2", "40", "2000"}}));
  EXPECT_EQ(ItemText(IDC_FILE_NAME_VALUE), "two.bin");
  press(VK_ESCAPE);
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_EQ(ListCells(List()).size(), 2u);
  EXPECT_EQ(ItemText(IDC_STATUS), "");
}

}  // namespace
}  // namespace shardix::test
