// The Fragment command's checks and fragment size, and the job around
// FragmentFile: controls locked while it runs, the outcome on the status
// line, and the file as it now lies on the After side.
#include "fragment/fragment_job.h"

#include <gtest/gtest.h>

#include "analysis/analyze_file.h"
#include "fragment/fragment_file.h"
#include "fragment/random.h"
#include "tests/fragment/fragment_test_support.h"
#include "tests/support/recording_display.h"
#include "volume/error_codes.h"
#include "volume/memory/memory_volume.h"

namespace shardix {
namespace {

using test::RecordingDisplay;

TEST(FragmentSettings, CountOutsideOneToMaxIsRefusedWithTheMaxValue) {
  for (const char* count : {"", "abc", "0", "65", "-1", "18446744073709551616"}) {
    RecordingDisplay display;
    FragmentJobParams params;
    EXPECT_FALSE(PrepareFragmentJob(display, count, "64", 0, 10, &params)) << count;
    EXPECT_EQ(display.status, "Error: Number of fragments must be between 1 and 64") << count;
    EXPECT_TRUE(display.progress_history.empty());
  }
  RecordingDisplay display;
  FragmentJobParams params;
  EXPECT_FALSE(PrepareFragmentJob(display, "1", "", 0, 10, &params));
  EXPECT_EQ(display.status, "Error: Number of fragments must be between 1 and 0");
}

TEST(FragmentSettings, AcceptedCountPreparesProgressAndStatus) {
  RecordingDisplay display;
  FragmentJobParams params;
  ASSERT_TRUE(PrepareFragmentJob(display, " 12abc", "64", 3, 10, &params));  // as %llu reads it
  EXPECT_EQ(params.fragment_count, 12u);
  EXPECT_EQ(params.cluster_count, 64u);
  EXPECT_EQ(params.method, 3);
  EXPECT_EQ(params.fragment_size, 5u);
  EXPECT_EQ(display.progress_max, 12u);
  EXPECT_EQ(display.progress_history, (std::vector<uint64_t>{0}));
  EXPECT_EQ(display.status, "Fragmentation has started...");

  ASSERT_TRUE(PrepareFragmentJob(display, "64", "64", 0, 10, &params));  // N = Max
  EXPECT_EQ(params.fragment_size, 1u);
}

TEST(FragmentSettings, SliderScalesTheFragmentSize) {
  EXPECT_EQ(FragmentSizeFor(1000, 10, 10), 100u);
  EXPECT_EQ(FragmentSizeFor(1000, 10, 5), 50u);
  EXPECT_EQ(FragmentSizeFor(1000, 10, 1), 10u);
  EXPECT_EQ(FragmentSizeFor(1000, 999, 1), 1u);  // never below one cluster
  EXPECT_EQ(FragmentSizeFor(7, 2, 10), 3u);     // truncated
}

// Notes what the controls showed when the first cluster moved.
class SnapshotDisplay : public RecordingDisplay {
 public:
  void MoveBegins() override {
    RecordingDisplay::MoveBegins();
    if (moves_begun > 1) return;
    locked = !settings_enabled && !CommandEnabled(Command::kAnalyzeFile) &&
             !CommandEnabled(Command::kBrowse) && !CommandEnabled(Command::kFileName);
    rows_during = rows.size();
    percent_after_during = Text(TextField::kPercentAfter);
    after_cleared = !FillsOf(ClusterBar::kAfter, BarColour::kWhite).empty();
  }
  bool locked = false;
  std::size_t rows_during = 99;
  std::string percent_after_during = "unset";
  bool after_cleared = false;
};

class FragmentJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryVolume::Options options;
    options.cluster_count = 100000;
    options.checkpoint_every_moves = 1;
    memory_ = MemoryVolume::Create(options);
    ASSERT_EQ(memory_->AddFile("f.bin", 400 * 4096, {{0, 400, 20000}}), kErrorSuccess);
    RegisterMemoryVolume("job", memory_);
    ASSERT_TRUE(AnalyzeFile(session_, "memory:job/f.bin", display_));
    display_.fills.clear();
  }
  void TearDown() override { UnregisterMemoryVolume("job"); }

  int Run(uint64_t count, int32_t method) {
    FragmentJobParams params;
    EXPECT_TRUE(PrepareFragmentJob(display_, std::to_string(count), "400", method, 10, &params));
    JobContext context{session_.volume.get(), session_.file.get(), &display_, &random_, nullptr};
    return RunFragmentJob(context, session_, params);
  }

  std::shared_ptr<MemoryVolume> memory_;
  FileSession session_;
  SnapshotDisplay display_;
  ShardixRandom random_{42};
};

TEST_F(FragmentJobTest, SuccessLocksTheControlsThenShowsTheAfterSide) {
  EXPECT_EQ(Run(8, 1), kFragmentSucceeded);
  EXPECT_TRUE(display_.locked);
  EXPECT_EQ(display_.rows_during, 0u);
  EXPECT_EQ(display_.percent_after_during, "");
  EXPECT_TRUE(display_.after_cleared);

  EXPECT_EQ(display_.status, "File was successfully fragmented!");
  EXPECT_EQ(session_.results.fragment_count, display_.rows.size());
  EXPECT_GE(display_.rows.size(), 2u);
  EXPECT_EQ(session_.results.cluster_count, 400u);
  EXPECT_FALSE(display_.FillsOf(ClusterBar::kAfter, BarColour::kRed).empty());
  EXPECT_TRUE(display_.FillsOf(ClusterBar::kBefore, BarColour::kBlue).empty());
  EXPECT_FALSE(display_.Text(TextField::kPercentAfter).empty());
  EXPECT_EQ(display_.Text(TextField::kMaxValue), "400");
  EXPECT_EQ(display_.range_pos, static_cast<int32_t>(display_.rows.size()));
  EXPECT_TRUE(display_.settings_enabled);
  EXPECT_TRUE(display_.CommandEnabled(Command::kDefragment));
  for (Command command : {Command::kAnalyzeFile, Command::kBrowse, Command::kFileName})
    EXPECT_TRUE(display_.CommandEnabled(command));
}

TEST_F(FragmentJobTest, OneFragmentLeavesDefragmentOff) {
  EXPECT_EQ(Run(1, 3), kFragmentSucceeded);
  EXPECT_EQ(display_.rows.size(), 1u);
  EXPECT_TRUE(display_.settings_enabled);
  EXPECT_FALSE(display_.CommandEnabled(Command::kDefragment));
}

TEST_F(FragmentJobTest, FailuresReadAsErrorsAndStillRedrawTheAfterSide) {
  memory_->MarkUnmovable(0, 20000);
  memory_->MarkUnmovable(20400, 100000 - 20400);
  EXPECT_EQ(Run(4, 3), kFragmentNoRoom);
  EXPECT_EQ(display_.status,
            "Error: File fragmentation was unsuccessful - not enough contiguous clusters");
  EXPECT_EQ(display_.rows.size(), 1u);
  EXPECT_FALSE(display_.FillsOf(ClusterBar::kAfter, BarColour::kRed).empty());

  memory_->InjectFailure(MemoryOperation::kGetVolumeBitmap, kErrorNotReady);
  EXPECT_EQ(Run(4, 3), kFragmentFailed);
  EXPECT_EQ(display_.status, "Error: File fragmentation was unsuccessful - unexpected error");
  EXPECT_TRUE(display_.settings_enabled);
}

// The last commit fails: the job is a failure, and only the moves that
// reached the disk count (3 of 8 here), whatever was attempted.
TEST_F(FragmentJobTest, AFailedWriteBackFailsTheJobAndCountsWhatReachedTheDisk) {
  test::RecordingVolume volume(session_.volume.get());
  volume.committed = 10;
  volume.committed_on_close = 13;
  volume.close_error = kErrorDiskFull;
  FragmentJobParams params;
  ASSERT_TRUE(PrepareFragmentJob(display_, "8", "400", 1, 10, &params));
  JobContext context{&volume, session_.file.get(), &display_, &random_, nullptr};
  EXPECT_EQ(RunFragmentJob(context, session_, params), kFragmentFailed);
  EXPECT_EQ(context.moved, 8u);
  EXPECT_EQ(context.committed, 3u);
  EXPECT_EQ(context.write_error, kErrorDiskFull);
  EXPECT_EQ(display_.status, "Error: File fragmentation was unsuccessful - unexpected error");
  ASSERT_EQ(display_.boxes.size(), 1u);
  EXPECT_EQ(display_.boxes[0].caption, "FragmentFile() Error");
  EXPECT_EQ(display_.boxes[0].code, kErrorDiskFull);
}

TEST_F(FragmentJobTest, StoppedJobLeavesTheDisplayAlone) {
  std::atomic<bool> stop{true};
  FragmentJobParams params{4, 400, 0, 100};
  JobContext context{session_.volume.get(), session_.file.get(), &display_, &random_, &stop};
  display_.status = "Fragmentation has started...";
  EXPECT_EQ(RunFragmentJob(context, session_, params), kJobStopped);
  EXPECT_EQ(display_.status, "Fragmentation has started...");
  EXPECT_EQ(display_.moves_begun, 0);
}

}  // namespace
}  // namespace shardix
