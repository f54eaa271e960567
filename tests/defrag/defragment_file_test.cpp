// DefragmentFile on the simulated volume: its plans, its moves, the results
// it returns and what it leaves of the file.
#include <gtest/gtest.h>

#include <atomic>

#include "defrag/defragment_file.h"
#include "tests/defrag/defrag_fixture.h"

namespace shardix {

namespace test {
bool operator==(const RecordedMove& a, const RecordedMove& b) {
  return a.vcn == b.vcn && a.lcn == b.lcn && a.count == b.count;
}
void PrintTo(const RecordedMove& m, std::ostream* out) {
  *out << "{vcn " << m.vcn << " -> " << m.lcn << " x" << m.count << "}";
}
}  // namespace test

namespace {

using test::DefragFixture;
using test::RecordedMove;

using Moves = std::vector<RecordedMove>;
using Runs = std::vector<MemoryRun>;

// Three fragments, 100 clusters; the longest free runs are 70 at 5000, 50 at
// 900 and 20 at 40.
class DefragmentFileTest : public DefragFixture {
 protected:
  void LayThreeFragments() {
    Lay({{0, 40, 100}, {40, 30, 200}, {70, 30, 300}}, {{40, 20}, {900, 50}, {5000, 70}});
  }
  DefragmentLimits NoPause() {
    DefragmentLimits limits;
    limits.replan_pause_ms = 0;
    return limits;
  }
};

TEST_F(DefragmentFileTest, FillsTheLongestRunsInFileOrder) {
  LayThreeFragments();
  EXPECT_EQ(DefragmentFile(context_, 3, 100), 0);
  EXPECT_EQ(volume_->moves, (Moves{{0, 5000, 70}, {70, 900, 30}}));
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 70, 5000}, {70, 30, 900}}));
  EXPECT_EQ(display_.progress_history, (std::vector<uint64_t>{70, 100}));
  EXPECT_EQ(display_.status_history,
            (std::vector<std::string>{"Attempting to move file fragment to Volume Cluster 5000",
                                      "Attempting to move file fragment to Volume Cluster 900"}));
  EXPECT_EQ(display_.moves_begun, 2);
  EXPECT_EQ(display_.moves_ended, 2);
  EXPECT_TRUE(display_.boxes.empty());
  ExpectNoDataLost();
}

// The dry run's plan is the job's moves, and making it moves nothing.
TEST_F(DefragmentFileTest, PlanIsTheMovesTheJobThenMakes) {
  LayThreeFragments();
  std::vector<PlannedPiece> plan;
  EXPECT_EQ(PlanDefragment(context_, 3, 100, &plan), 0);
  EXPECT_TRUE(volume_->moves.empty());
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_EQ(DefragmentFile(context_, 3, 100), 0);
  ASSERT_EQ(volume_->moves.size(), plan.size());
  for (std::size_t i = 0; i < plan.size(); ++i)
    EXPECT_EQ(volume_->moves[i], (RecordedMove{plan[i].vcn, plan[i].lcn,
                                               static_cast<uint32_t>(plan[i].clusters)}));
  // Not enough room: the same refusal as the job's, before any move.
  Lay({{0, 40, 100}, {40, 30, 200}, {70, 30, 300}}, {{40, 20}, {900, 50}});
  EXPECT_EQ(PlanDefragment(context_, 3, 100, &plan), kDefragmentNoSpace);
  EXPECT_TRUE(plan.empty());
}

TEST_F(DefragmentFileTest, LongestRunHoldingTheFileTakesItInOneMove) {
  Lay({{0, 30, 100}, {30, 30, 200}}, {{900, 50}, {5000, 60}});  // exactly as long as the file
  EXPECT_EQ(DefragmentFile(context_, 2, 60), 0);
  EXPECT_EQ(volume_->moves, (Moves{{0, 5000, 60}}));
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 60, 5000}}));
  ExpectNoDataLost();
}

TEST_F(DefragmentFileTest, ExactlyEnoughSpaceProceeds) {
  // Free total and the sum of the two allowed runs both equal the file.
  Lay({{0, 50, 100}, {50, 30, 200}, {80, 20, 300}}, {{900, 40}, {5000, 60}});
  EXPECT_EQ(DefragmentFile(context_, 3, 100), 0);
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 60, 5000}, {60, 40, 900}}));
  ExpectNoDataLost();
}

TEST_F(DefragmentFileTest, RefusalsBeforeAnyMove) {
  struct Case {
    int64_t fragments;
    std::vector<std::pair<int64_t, int64_t>> free_runs;
    int result;
  } cases[] = {
      {3, {{900, 50}, {5000, 40}}, kDefragmentNoSpace},                         // 90 free < 100
      {3, {{40, 40}, {900, 40}, {5000, 40}}, kDefragmentRunsTooShort},          // 40 + 40 < 100
      {1, {{5000, 500}}, kDefragmentRunsTooShort},                              // a plan of no runs
      {1, {{5000, 50}}, kDefragmentNoSpace},
      {0, {{5000, 500}}, kDefragmentRunsTooShort},
  };
  for (const Case& c : cases) {
    Lay({{0, 40, 100}, {40, 30, 200}, {70, 30, 300}}, c.free_runs);
    EXPECT_EQ(DefragmentFile(context_, c.fragments, 100), c.result) << c.fragments;
    EXPECT_TRUE(volume_->moves.empty());
    EXPECT_TRUE(display_.boxes.empty());
    EXPECT_EQ(memory_->MoveCount(), 0u);
  }
}

TEST_F(DefragmentFileTest, EmptyFileNeedsNoAnalysis) {
  LayThreeFragments();
  EXPECT_EQ(DefragmentFile(context_, 3, 0), 0);
  EXPECT_EQ(memory_->CallCount(MemoryOperation::kGetVolumeBitmap), 0u);
}

TEST_F(DefragmentFileTest, RefusedMovePlansAgainFromTheSameCluster) {
  LayThreeFragments();
  volume_->before_move = [](int call) -> std::optional<uint32_t> {
    if (call == 2) return kErrorAccessDenied;
    return std::nullopt;
  };
  EXPECT_EQ(DefragmentFile(context_, 3, 100), 0);
  // The new plan holds one run, the 50 at 900, which takes the 30 left.
  EXPECT_EQ(volume_->moves, (Moves{{0, 5000, 70}, {70, 900, 30}, {70, 900, 30}}));
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 70, 5000}, {70, 30, 900}}));
  EXPECT_EQ(display_.progress_history, (std::vector<uint64_t>{70, 100}));
  EXPECT_TRUE(display_.boxes.empty());
  ExpectNoDataLost();
}

TEST_F(DefragmentFileTest, NewPlanHasOneRunFewerForEachMoveMade) {
  // Four fragments of 90 clusters; the plan is 40, 30 and 20. The second
  // move is refused because part of the 20 was taken meanwhile: the new
  // plan may use two runs (30 + 15 < 50 left), where three (30 + 15 + 10)
  // would have left the file in as many fragments as before.
  Lay({{0, 10, 100}, {10, 10, 120}, {20, 10, 140}, {30, 60, 200}},
      {{1000, 40}, {2000, 30}, {3000, 20}, {4000, 10}, {4100, 10}});
  volume_->before_move = [this](int call) -> std::optional<uint32_t> {
    if (call != 2) return std::nullopt;
    EXPECT_EQ(memory_->MarkUnmovable(3015, 5), kErrorSuccess);
    return kErrorAccessDenied;
  };
  EXPECT_EQ(DefragmentFile(context_, 4, 90), kDefragmentRunsTooShort);
  EXPECT_EQ(volume_->moves, (Moves{{0, 1000, 40}, {40, 2000, 30}}));
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 40, 1000}, {40, 50, 210}}));
  ExpectNoDataLost();
}

TEST_F(DefragmentFileTest, FailedMoveShowsItsBoxAndKeepsEarlierMoves) {
  LayThreeFragments();
  memory_->InjectFailure(MemoryOperation::kMoveFile, kErrorIoDevice, 1);
  EXPECT_EQ(DefragmentFile(context_, 3, 100), kDefragmentFailed);
  ASSERT_EQ(display_.boxes.size(), 1u);
  EXPECT_EQ(display_.boxes[0].caption, "MoveFileFragment() Error");
  EXPECT_EQ(display_.boxes[0].code, kErrorIoDevice);
  EXPECT_EQ(display_.boxes[0].owner, BoxOwner::kMainWindow);
  EXPECT_EQ(display_.boxes[0].icon, BoxIcon::kNone);
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 70, 5000}, {70, 30, 300}}));
  EXPECT_EQ(display_.progress_history, (std::vector<uint64_t>{70}));
  EXPECT_EQ(display_.moves_begun, display_.moves_ended);
  EXPECT_EQ(context_.moved, 1u);  // the one piece moved before the failure, for the front ends
  ExpectNoDataLost();
}

TEST_F(DefragmentFileTest, FailedAnalysisEndsWithTheUnexpectedResult) {
  LayThreeFragments();
  memory_->InjectFailure(MemoryOperation::kGetGeometry, kErrorNotReady);
  EXPECT_EQ(DefragmentFile(context_, 3, 100), kDefragmentFailed);
  ASSERT_EQ(display_.boxes.size(), 1u);
  EXPECT_EQ(display_.boxes[0].caption, "GetDiskFreeSpace() Error");
  EXPECT_TRUE(volume_->moves.empty());
}

TEST_F(DefragmentFileTest, RefusalsOneAfterAnotherEndAfterTheBound) {
  for (int bound : {3, 64}) {
    LayThreeFragments();
    memory_->InjectFailure(MemoryOperation::kMoveFile, kErrorInvalidParameter, 0, 1000);
    DefragmentLimits limits = NoPause();
    limits.max_replans_in_row = bound;
    EXPECT_EQ(DefragmentFile(context_, 3, 100, limits), kDefragmentFailed);
    EXPECT_EQ(volume_->moves.size(), static_cast<std::size_t>(bound + 1));
    ASSERT_EQ(display_.boxes.size(), 1u);
    EXPECT_EQ(display_.boxes[0].code, kErrorInvalidParameter);
    EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 40, 100}, {40, 30, 200}, {70, 30, 300}}));
    display_.boxes.clear();
  }
}

TEST_F(DefragmentFileTest, SuccessfulMoveStartsTheCountOfRefusalsAgain) {
  LayThreeFragments();
  volume_->before_move = [](int call) -> std::optional<uint32_t> {
    if (call == 1 || call == 3) return kErrorAccessDenied;
    return std::nullopt;
  };
  DefragmentLimits limits = NoPause();
  limits.max_replans_in_row = 1;
  EXPECT_EQ(DefragmentFile(context_, 3, 100, limits), 0);
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 70, 5000}, {70, 30, 900}}));
  ExpectNoDataLost();
}

TEST_F(DefragmentFileTest, LongPiecesGoInSeveralRequestsOneAfterAnother) {
  LayThreeFragments();
  DefragmentLimits limits = NoPause();
  limits.max_clusters_per_request = 16;
  EXPECT_EQ(DefragmentFile(context_, 3, 100, limits), 0);
  EXPECT_EQ(volume_->moves, (Moves{{0, 5000, 16}, {16, 5016, 16}, {32, 5032, 16}, {48, 5048, 16},
                                   {64, 5064, 6}, {70, 900, 16}, {86, 916, 14}}));
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 70, 5000}, {70, 30, 900}}));
  EXPECT_EQ(display_.progress_history, (std::vector<uint64_t>{16, 32, 48, 64, 70, 86, 100}));
  EXPECT_EQ(display_.status_history.size(), 2u);  // one line per piece
  ExpectNoDataLost();
}

TEST_F(DefragmentFileTest, PieceCutShortByARefusalStillCountsAsAMove) {
  // After 32 clusters went to 5000 the rest of that run is refused. Counting
  // the 32 as a fragment leaves one run for the 68 left (the 50 at 900):
  // too short. Not counting it would allow two more pieces and a file of
  // three fragments again.
  LayThreeFragments();
  DefragmentLimits limits = NoPause();
  limits.max_clusters_per_request = 16;
  volume_->before_move = [](int call) -> std::optional<uint32_t> {
    if (call == 3) return kErrorAccessDenied;
    return std::nullopt;
  };
  EXPECT_EQ(DefragmentFile(context_, 3, 100, limits), kDefragmentRunsTooShort);
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 32, 5000}, {32, 8, 132}, {40, 30, 200}, {70, 30, 300}}));
  ExpectNoDataLost();
}

TEST(DefragmentFileHuge, PieceOfMoreThanTwoToTheThirtyTwoClustersIsNotCut) {
  // The file's 2^32 + 5 clusters lie at the front; one free run behind them
  // holds them all. Only the requests are looked at.
  const uint64_t file = (uint64_t{1} << 32) + 5;
  const uint64_t used = file + 3;
  test::BitmapVolume volume = test::BitmapVolume::UsedPrefix(used + file + 10, used);
  test::NullFile handle;
  test::RecordingDisplay display;
  JobContext context;
  context.volume = &volume;
  context.file = &handle;
  context.display = &display;
  EXPECT_EQ(DefragmentFile(context, 2, file), 0);
  EXPECT_EQ(volume.moves, (Moves{{0, static_cast<int64_t>(used), 0xFFFFFFFFu},
                                 {0xFFFFFFFF, static_cast<int64_t>(used + 0xFFFFFFFFu), 6}}));
  EXPECT_EQ(display.progress_history, (std::vector<uint64_t>{0xFFFFFFFFu, file}));
}

TEST_F(DefragmentFileTest, StopRequestEndsTheJobAfterTheMoveInFlight) {
  LayThreeFragments();
  std::atomic<bool> stop{false};
  context_.stop_requested = &stop;
  volume_->before_move = [&stop](int) -> std::optional<uint32_t> {
    stop = true;  // the program closes while the first move runs
    return std::nullopt;
  };
  EXPECT_EQ(DefragmentFile(context_, 3, 100), kJobStopped);
  EXPECT_EQ(volume_->moves.size(), 1u);
  EXPECT_EQ(memory_->RunsOf("f"), (Runs{{0, 70, 5000}, {70, 30, 300}}));
  EXPECT_TRUE(display_.boxes.empty());
  ExpectNoDataLost();
}

}  // namespace
}  // namespace shardix
