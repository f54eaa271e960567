// The Fragment and Defragment jobs in the main window on simulated volumes:
// the refusal, the controls during and after a job, the After side, the
// status animator, a second start while a job runs, and closing the window
// during a job.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "app/app_state_win.h"
#include "app/main_window_win.h"
#include "app/jobs/status_animator_win.h"
#include "fragment/random.h"
#include "job_test_support_win.h"
#include "resource.h"
#include "test_support_win.h"
#include "volume/error_codes.h"

namespace shardix::test {
namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

// Every control a running job keeps from the user.
constexpr int kLockedDuringJob[] = {IDC_SETTINGS_GROUP, IDC_FRAGMENT_COUNT, IDC_FRAGMENT_SIZE, IDC_PLACEMENT_METHOD,
                                    IDC_FRAGMENT_COUNT_UPDOWN, IDC_FRAGMENT, IDC_DEFRAGMENT, IDC_VOLUME_INFO,
                                    IDC_ANALYZE_FILE, IDC_BROWSE, IDC_FILE_NAME};

class JobWindow : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    SetStatusAnimatorPeriod(20);
    gate_.Open(true);
  }
  void TearDown() override {
    gate_.Open(true);
    WaitForJob();
    SetStatusAnimatorPeriod(1000);
    MainWindowTest::TearDown();
  }

  bool WaitForJob() {
    return PumpUntil([] { return !JobRunningForTest(); }, 10000);
  }
  static bool JobRunningForTest() {
    const HANDLE worker = g_app.job_worker;
    return worker != nullptr && WaitForSingleObject(worker, 0) == WAIT_TIMEOUT;
  }
  void Fragment(const char* count) {
    SetDlgItemTextA(window_, IDC_FRAGMENT_COUNT, count);
    SendCommand(window_, IDC_FRAGMENT);
  }
  int ProgressPosition() const { return static_cast<int>(SendMessageA(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0)); }
  int ProgressMaximum() const { return static_cast<int>(SendMessageA(Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0)); }

  TestVolume volume_{"job", 20000};
  MoveGate gate_;
};

int CountColour(const std::vector<COLORREF>& pixels, COLORREF colour) {
  int count = 0;
  for (COLORREF pixel : pixels) count += pixel == colour;
  return count;
}

TEST_F(JobWindow, CountsOutsideOneToMaxAreRefusedAndNothingStarts) {
  ASSERT_EQ(volume_->AddFile("f.bin", 100 * 4096, {{0, 100, 1000}}), 0u);
  Analyze(window_, volume_.Path("f.bin"));
  SendMessageA(Item(IDC_PROGRESS), PBM_SETPOS, 0, 0);
  for (const char* count : {"", "abc", "0", "101"}) {
    SCOPED_TRACE(count);
    SetStatusText("");
    Fragment(count);
    EXPECT_EQ(ItemText(IDC_STATUS), "Error: Number of fragments must be between 1 and 100");
    EXPECT_TRUE(StatusShownInRed(window_));
    EXPECT_EQ(g_app.job_worker, nullptr);
    EXPECT_EQ(ListCells(Item(IDC_FRAGMENT_LIST)).size(), 1u);
    EXPECT_TRUE(Enabled(window_, IDC_FRAGMENT));
  }
  EXPECT_EQ(volume_->MoveCount(), 0u);
}

TEST_F(JobWindow, FragmentRunsToTheEndAndShowsTheAfterSide) {
  ASSERT_EQ(volume_->AddFile("f.bin", 100 * 4096, {{0, 100, 1000}}), 0u);
  Analyze(window_, volume_.Path("f.bin"));
  const std::vector<COLORREF> before = BarPixels(Item(IDC_BEFORE_BAR));
  const std::string percent_before = ItemText(IDC_PERCENT_BEFORE);

  Fragment("4");
  ASSERT_TRUE(WaitForJob());
  EXPECT_EQ(ItemText(IDC_STATUS), "File was successfully fragmented!");
  EXPECT_FALSE(StatusShownInRed(window_));
  EXPECT_EQ(volume_->RunsOf("f.bin").size(), 4u);
  EXPECT_EQ(ListCells(Item(IDC_FRAGMENT_LIST)).size(), 4u);
  EXPECT_EQ(ItemText(IDC_FILE_SIZE_VALUE), "400.0 KB (100 Clusters) in 4 fragments");
  EXPECT_NE(ItemText(IDC_PERCENT_AFTER), "");
  EXPECT_EQ(ItemText(IDC_PERCENT_BEFORE), percent_before) << "the Before side keeps the analysis";
  EXPECT_EQ(ItemText(IDC_MAX_VALUE), "100");
  EXPECT_EQ(SendMessageA(Item(IDC_FRAGMENT_COUNT_UPDOWN), UDM_GETPOS32, 0, 0), 4);
  EXPECT_EQ(ProgressMaximum(), 4);
  EXPECT_EQ(ProgressPosition(), 4);
  for (int id : kLockedDuringJob) EXPECT_TRUE(Enabled(window_, id)) << id;
  const std::vector<COLORREF> after = BarPixels(Item(IDC_AFTER_BAR));
  EXPECT_GE(CountColour(after, kRed), 1);
  EXPECT_EQ(BarPixels(Item(IDC_BEFORE_BAR)), before);
  EXPECT_GE(CountColour(before, kBlue), 1);

  // Back to one fragment: Defragment stays off.
  Fragment("1");
  ASSERT_TRUE(WaitForJob());
  EXPECT_EQ(ItemText(IDC_STATUS), "File was successfully fragmented!");
  EXPECT_EQ(ListCells(Item(IDC_FRAGMENT_LIST)).size(), 1u);
  EXPECT_TRUE(Enabled(window_, IDC_FRAGMENT));
  EXPECT_FALSE(Enabled(window_, IDC_DEFRAGMENT));
}

TEST_F(JobWindow, AFailedMoveIsReportedAndTheControlsComeBack) {
  ASSERT_EQ(volume_->AddFile("f.bin", 100 * 4096, {{0, 100, 1000}}), 0u);
  Analyze(window_, volume_.Path("f.bin"));
  volume_->InjectFailure(MemoryOperation::kMoveFile, kErrorIoDevice);
  Fragment("4");
  ASSERT_TRUE(WaitForJob());
  EXPECT_EQ(ItemText(IDC_STATUS), "Error: File fragmentation was unsuccessful - unexpected error");
  EXPECT_TRUE(StatusShownInRed(window_));
  ASSERT_EQ(TestUi().boxes.size(), 1u);
  EXPECT_EQ(TestUi().boxes[0].caption, "MoveFileFragment() Error");
  EXPECT_EQ(TestUi().boxes[0].owner, window_);
  TestUi().boxes.clear();
  EXPECT_EQ(ListCells(Item(IDC_FRAGMENT_LIST)).size(), 1u) << "the rescan shows the file as it lies";
  for (int id : kLockedDuringJob) {
    if (id != IDC_DEFRAGMENT) {
      EXPECT_TRUE(Enabled(window_, id)) << id;
    }
  }
}

TEST_F(JobWindow, AfterFragmentingIntoManyPiecesEveryLcnShowsWhole) {
  ASSERT_EQ(volume_->AddFile("f.bin", 100 * 4096, {{0, 100, 1000}}), 0u);
  Analyze(window_, volume_.Path("f.bin"));
  EXPECT_FALSE(ExpectEveryLcnFullyVisible(Item(IDC_FRAGMENT_LIST)));
  // A seed whose 40 pieces all land apart: with the clock's seed two of them
  // now and then land side by side and join.
  SeedRandom(1);
  Fragment("40");
  ASSERT_TRUE(WaitForJob());
  EXPECT_EQ(ItemText(IDC_STATUS), "File was successfully fragmented!");
  ASSERT_EQ(ListCells(Item(IDC_FRAGMENT_LIST)).size(), 40u);
  EXPECT_TRUE(ExpectEveryLcnFullyVisible(Item(IDC_FRAGMENT_LIST)));
}

TEST_F(JobWindow, DuringAMoveTheControlsAreLockedTheDotsGrowAndNoSecondJobStarts) {
  ASSERT_EQ(volume_->AddFile("f.bin", 100 * 4096, {{0, 60, 1000}, {60, 40, 3000}}), 0u);
  Analyze(window_, MoveGate::PathOf("job", "f.bin"));
  ASSERT_TRUE(Enabled(window_, IDC_DEFRAGMENT));
  gate_.Open(false);
  Fragment("4");
  ASSERT_TRUE(gate_.WaitForMovesBegun(1, 5000));

  for (int id : kLockedDuringJob) EXPECT_FALSE(Enabled(window_, id)) << id;
  EXPECT_EQ(ListCells(Item(IDC_FRAGMENT_LIST)).size(), 0u);
  EXPECT_EQ(ItemText(IDC_PERCENT_AFTER), "");
  EXPECT_EQ(CountColour(BarPixels(Item(IDC_AFTER_BAR)), kRed), 0);
  // One dot per period while the move waits.
  const std::string moving = ItemText(IDC_STATUS);
  ASSERT_EQ(moving.rfind("Attempting to move file fragment 1 to Volume Cluster ", 0), 0u) << moving;
  ASSERT_TRUE(PumpUntil([&] { return ItemText(IDC_STATUS).size() >= moving.size() + 3; }, 5000));
  EXPECT_EQ(ItemText(IDC_STATUS).substr(moving.size()).find_first_not_of('.'), std::string::npos);

  // Commands that still arrive change nothing: no second job, the block
  // and the file of the running job untouched, the status line as it was.
  const JobRequest request = g_app.job_request;
  const HANDLE worker = g_app.job_worker;
  const VolumeFile* file = g_app.session.file.get();
  const int progress = ProgressPosition();
  SetDlgItemTextA(window_, IDC_FRAGMENT_COUNT, "2");
  SendCommand(window_, IDC_FRAGMENT);
  SendCommand(window_, IDC_DEFRAGMENT);
  SendCommand(window_, IDC_ANALYZE_FILE);
  SendCommand(window_, IDC_VOLUME_INFO);
  EXPECT_EQ(g_app.job_request.kind, JobKind::kFragment);
  EXPECT_EQ(std::memcmp(&g_app.job_request.fragment, &request.fragment, sizeof request.fragment), 0);
  EXPECT_EQ(g_app.job_worker, worker);
  EXPECT_EQ(g_app.session.file.get(), file);
  EXPECT_EQ(ProgressPosition(), progress);
  EXPECT_EQ(ItemText(IDC_STATUS).rfind("Attempting to move", 0), 0u);

  gate_.Open(true);
  ASSERT_TRUE(WaitForJob());
  EXPECT_EQ(ItemText(IDC_STATUS), "File was successfully fragmented!");
  // The animator never writes over a later message.
  const DWORD since = GetTickCount();
  PumpUntil([&] { return GetTickCount() - since > 150; }, 1000);
  EXPECT_EQ(ItemText(IDC_STATUS), "File was successfully fragmented!");
  EXPECT_EQ(volume_->RunsOf("f.bin").size(), 4u);
  EXPECT_GE(gate_.moves_begun(), 4);  // a refused target is tried anew
  for (int id : kLockedDuringJob) EXPECT_TRUE(Enabled(window_, id)) << id;
}

TEST_F(JobWindow, ClosingTheWindowStopsTheJobAfterTheMoveInFlightBeforeClosingTheHandles) {
  ASSERT_EQ(volume_->AddFile("f.bin", 100 * 4096, {{0, 100, 1000}}), 0u);
  Analyze(window_, MoveGate::PathOf("job", "f.bin"));
  gate_.Open(false);
  Fragment("4");
  ASSERT_TRUE(gate_.WaitForMovesBegun(1, 5000));

  // The move in flight finishes a moment after the close begins.
  std::thread release([this] {
    Sleep(200);
    gate_.Open(true);
  });
  DestroyWindow(window_);
  release.join();

  EXPECT_EQ(g_app.job_worker, nullptr);
  EXPECT_EQ(gate_.Log(), (std::vector<std::string>{"move", "moved", "volume closed", "file closed"}));
  EXPECT_EQ(volume_->MoveCount(), 1u);
}

TEST_F(JobWindow, DefragmentGathersTheFileAndCountsClustersOnTheProgressBar) {
  ASSERT_EQ(volume_->AddFile("f.bin", 100 * 4096, {{0, 50, 1000}, {50, 50, 3000}}), 0u);
  Analyze(window_, volume_.Path("f.bin"));
  ASSERT_TRUE(Enabled(window_, IDC_DEFRAGMENT));
  SendCommand(window_, IDC_DEFRAGMENT);
  ASSERT_TRUE(WaitForJob());
  EXPECT_EQ(ItemText(IDC_STATUS), "File was successfully defragmented!");
  EXPECT_EQ(ListCells(Item(IDC_FRAGMENT_LIST)).size(), 1u);
  EXPECT_EQ(volume_->RunsOf("f.bin").size(), 1u);
  EXPECT_EQ(ProgressMaximum(), 100);
  EXPECT_EQ(ProgressPosition(), 100);
  EXPECT_FALSE(Enabled(window_, IDC_DEFRAGMENT));
  EXPECT_TRUE(Enabled(window_, IDC_FRAGMENT));
  EXPECT_TRUE(Enabled(window_, IDC_ANALYZE_FILE));
  EXPECT_GE(CountColour(BarPixels(Item(IDC_AFTER_BAR)), kRed), 1);
}

TEST_F(JobWindow, DefragmentThatCannotGatherShowsItsOutcomeInRed) {
  // Two fragments of 50 on a volume whose free runs (50, 50, 80, 90) are
  // all shorter than the file: one run of 100 clusters would be needed.
  TestVolume tight("tight", 390);
  ASSERT_EQ(tight->AddFile("f.bin", 100 * 4096, {{0, 50, 0}, {50, 50, 100}}), 0u);
  ASSERT_EQ(tight->MarkUnmovable(200, 10), 0u);
  ASSERT_EQ(tight->MarkUnmovable(290, 10), 0u);
  Analyze(window_, tight.Path("f.bin"));
  SendCommand(window_, IDC_DEFRAGMENT);
  ASSERT_TRUE(WaitForJob());
  EXPECT_EQ(ItemText(IDC_STATUS), "Error: File deframentation unsuccessful - unable to reduce the file fragmentation");
  EXPECT_TRUE(StatusShownInRed(window_));
  EXPECT_TRUE(Enabled(window_, IDC_DEFRAGMENT));
}

TEST(StatusAnimatorDots, GrowToThirtyOneAndCarryOnOnlyAfterADot) {
  char text[kTextBufferSize] = "Moving";
  int count = 0;
  int appended = 0;
  while (AppendStatusDot(text, sizeof text, &count)) ++appended;
  EXPECT_EQ(appended, 31);
  EXPECT_EQ(std::string(text), "Moving" + std::string(31, '.'));

  // A new message that ends in "." carries on from the count; one that
  // does not starts again.
  std::strcpy(text, "Fragmentation has started...");
  EXPECT_FALSE(AppendStatusDot(text, sizeof text, &count));
  std::strcpy(text, "Attempting to move");
  EXPECT_TRUE(AppendStatusDot(text, sizeof text, &count));
  EXPECT_EQ(count, 1);

  char empty[8] = "";
  EXPECT_FALSE(AppendStatusDot(empty, sizeof empty, &count));
  EXPECT_STREQ(empty, "");
  char full[4] = "abc";  // no room for a dot
  EXPECT_FALSE(AppendStatusDot(full, sizeof full, &count));
  EXPECT_STREQ(full, "abc");
}

}  // namespace
}  // namespace shardix::test
