// The Defragment job without its thread: the command's preparation, the
// outcome line and the After side drawn from a fresh scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "analysis/analyze_file.h"
#include "defrag/defragment_file.h"
#include "defrag/defragment_job.h"
#include "tests/support/recording_display.h"
#include "volume/error_codes.h"
#include "volume/memory/memory_volume.h"

namespace shardix {
namespace {

using test::RecordingDisplay;

class DefragmentJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryVolume::Options options;
    options.cluster_count = 10000;
    memory_ = MemoryVolume::Create(options);
    RegisterMemoryVolume("defragjob", memory_);
  }
  void TearDown() override { UnregisterMemoryVolume("defragjob"); }

  void AnalyseFile(const std::vector<MemoryRun>& runs, uint64_t clusters) {
    ASSERT_EQ(memory_->AddFile("f.bin", clusters * 4096, runs), kErrorSuccess);
    ASSERT_TRUE(AnalyzeFile(session_, "memory:defragjob/f.bin", display_));
    context_.volume = session_.volume.get();
    context_.file = session_.file.get();
    context_.display = &display_;
    display_.status_history.clear();
    display_.progress_history.clear();
  }

  bool Said(const std::string& text) const {
    return std::find(display_.status_history.begin(), display_.status_history.end(), text) !=
           display_.status_history.end();
  }

  std::shared_ptr<MemoryVolume> memory_;
  FileSession session_;
  RecordingDisplay display_;
  JobContext context_;
};

TEST_F(DefragmentJobTest, TwoFragmentsBecomeOneAndDefragmentIsOfferedNoMore) {
  AnalyseFile({{0, 30, 100}, {30, 30, 2000}}, 60);
  ASSERT_EQ(display_.rows.size(), 2u);
  EXPECT_EQ(RunDefragmentJob(context_, session_), 0);

  EXPECT_EQ(display_.status_history.front(), "Defragmentation has started...");
  EXPECT_TRUE(Said("Attempting to move file fragment to Volume Cluster 2030"));
  EXPECT_EQ(display_.status, "File was successfully defragmented!");
  EXPECT_EQ(display_.progress_max, 60u);  // the bar counts clusters
  EXPECT_EQ(display_.progress, 60u);

  ASSERT_EQ(display_.rows.size(), 1u);
  EXPECT_EQ(display_.rows[0].lcn, 2030u);
  EXPECT_EQ(session_.results.fragment_count, 1u);
  EXPECT_EQ(display_.Text(TextField::kPercentAfter), "0.00000%");
  EXPECT_EQ(display_.Text(TextField::kMaxValue), "60");
  EXPECT_EQ(display_.Text(TextField::kFileSize), "240.0 KB (60 Clusters) in 1 fragments");
  EXPECT_EQ(display_.FillsOf(ClusterBar::kAfter, BarColour::kRed).size(), 1u);
  EXPECT_TRUE(display_.settings_enabled);
  EXPECT_FALSE(display_.CommandEnabled(Command::kDefragment));
  EXPECT_TRUE(display_.CommandEnabled(Command::kFragment));
  for (Command c : {Command::kAnalyzeFile, Command::kBrowse, Command::kFileName})
    EXPECT_TRUE(display_.CommandEnabled(c));
}

TEST_F(DefragmentJobTest, UnsuccessfulJobSaysWhyAndShowsTheFileAsItLies) {
  // Three fragments of 30; the only free runs are three of 40, of which the
  // plan may use two: 80 < 90.
  AnalyseFile({{0, 30, 100}, {30, 30, 200}, {60, 30, 300}}, 90);
  for (auto [lcn, count] : {std::pair<int64_t, int64_t>{0, 100}, {170, 30}, {270, 30}, {370, 9630}})
    ASSERT_EQ(memory_->MarkUnmovable(lcn, count), kErrorSuccess);
  EXPECT_EQ(RunDefragmentJob(context_, session_), kDefragmentRunsTooShort);
  EXPECT_EQ(display_.status,
            "Error: File deframentation unsuccessful - unable to reduce the file fragmentation");
  EXPECT_EQ(display_.rows.size(), 3u);
  EXPECT_EQ(display_.FillsOf(ClusterBar::kAfter, BarColour::kRed).size(), 3u);
  EXPECT_TRUE(display_.CommandEnabled(Command::kDefragment));  // still three fragments
}

TEST_F(DefragmentJobTest, FailedMoveReadsAsAnUnexpectedError) {
  AnalyseFile({{0, 30, 100}, {30, 30, 2000}}, 60);
  memory_->InjectFailure(MemoryOperation::kMoveFile, kErrorIoDevice);
  EXPECT_EQ(RunDefragmentJob(context_, session_), kDefragmentFailed);
  EXPECT_EQ(display_.status, "Error: File deframentation unsuccessful - unexpected error");
  EXPECT_EQ(display_.boxes.size(), 1u);
  EXPECT_EQ(display_.rows.size(), 2u);
}

TEST_F(DefragmentJobTest, OutcomeLines) {
  bool error = false;
  EXPECT_EQ(DefragmentOutcomeText(0, &error), "File was successfully defragmented!");
  EXPECT_FALSE(error);
  EXPECT_EQ(DefragmentOutcomeText(-1, &error),
            "File deframentation unsuccessful - not enough disk space");
  EXPECT_TRUE(error);
  EXPECT_EQ(DefragmentOutcomeText(-7, &error), "File deframentation unsuccessful - unexpected error");
  EXPECT_TRUE(error);
}

TEST_F(DefragmentJobTest, StoppedJobShowsNothingMore) {
  AnalyseFile({{0, 30, 100}, {30, 30, 2000}}, 60);
  std::atomic<bool> stop{true};
  context_.stop_requested = &stop;
  EXPECT_EQ(RunDefragmentJob(context_, session_), kJobStopped);
  EXPECT_EQ(display_.status, "Defragmentation has started...");
  EXPECT_EQ(memory_->MoveCount(), 0u);
}

}  // namespace
}  // namespace shardix
