// FragmentFile on the simulated volume: where each method puts the pieces,
// the fallback search, refused moves, the ends of the bitmap, the failure
// boxes, stopping, and that no move ever loses a cluster of the file.
#include "fragment/fragment_file.h"

#include <gtest/gtest.h>

#include <atomic>

#include "fragment/fragment_job.h"
#include "fragment/placement.h"
#include "tests/fragment/fragment_test_support.h"
#include "tests/support/recording_display.h"
#include "volume/memory/memory_volume.h"

namespace shardix {
namespace {

using test::MoveRequest;
using test::RecordingDisplay;

constexpr int32_t kConcentrated = 0, kScattered = 1, kRandom = 2, kFirstFit = 3;
constexpr int32_t kAllMethods[] = {kConcentrated, kScattered, kRandom, kFirstFit};

// Stops the job once a number of moves have ended.
class StoppingDisplay : public RecordingDisplay {
 public:
  void MoveEnds() override {
    RecordingDisplay::MoveEnds();
    if (moves_ended == stop_after) stop.store(true);
  }
  int stop_after = -1;
  std::atomic<bool> stop{false};
};

class FragmentFileTest : public ::testing::Test {
 protected:
  void MakeVolume(uint64_t clusters, uint64_t checkpoint_every = 0) {
    MemoryVolume::Options options;
    options.cluster_count = clusters;
    options.checkpoint_every_moves = checkpoint_every;
    memory_ = MemoryVolume::Create(options);
    display_.status_history.clear();
    display_.progress_history.clear();
    display_.boxes.clear();
    display_.moves_begun = display_.moves_ended = 0;
  }

  // The file under test: one run of `clusters` from `lcn`; its content is
  // kept to be compared after the job.
  void AddFile(int64_t clusters, int64_t lcn) {
    ASSERT_EQ(memory_->AddFile("f.bin", clusters * 4096, {{0, clusters, lcn}}), kErrorSuccess);
    clusters_ = clusters;
    content_.clear();
    for (int64_t vcn = 0; vcn < clusters; ++vcn)
      content_.push_back(memory_->FileClusterContent("f.bin", vcn));
  }

  int Fragment(uint64_t count, uint64_t size, int32_t method, uint32_t seed = 1) {
    std::unique_ptr<Volume> volume;
    std::unique_ptr<VolumeFile> file;
    EXPECT_EQ(memory_->OpenVolume(&volume), kErrorSuccess);
    EXPECT_EQ(memory_->OpenFile("f.bin", &file), kErrorSuccess);
    recorder_ = std::make_unique<test::RecordingVolume>(volume.get());
    recorder_->refusal = refuse_ ? "/img cannot be written: try again" : "";
    random_.Seed(seed);
    JobContext context{recorder_.get(), file.get(), &display_, &random_, &display_.stop};
    int result = FragmentFile(context, count, size, method, static_cast<uint64_t>(clusters_));
    planned_ = context.planned;
    volume_ = std::move(volume);
    return result;
  }

  std::vector<MoveRequest> Moves() const { return recorder_->SucceededMoves(); }
  int Messages(const std::string& prefix) const {
    int n = 0;
    for (const std::string& text : display_.status_history) n += text.rfind(prefix, 0) == 0;
    return n;
  }

  void TearDown() override {
    if (!memory_ || clusters_ == 0) return;
    // Whatever happened, the file still holds all its clusters, unchanged.
    int64_t total = 0;
    for (const MemoryRun& run : memory_->RunsOf("f.bin")) total += run.length;
    EXPECT_EQ(total, clusters_);
    for (int64_t vcn = 0; vcn < clusters_; ++vcn)
      ASSERT_EQ(memory_->FileClusterContent("f.bin", vcn), content_[vcn]) << "VCN " << vcn;
    EXPECT_EQ(display_.moves_begun, display_.moves_ended);
  }

  std::shared_ptr<MemoryVolume> memory_;
  std::unique_ptr<Volume> volume_;
  std::unique_ptr<test::RecordingVolume> recorder_;
  StoppingDisplay display_;
  ShardixRandom random_;
  int64_t clusters_ = 0;
  std::vector<uint64_t> content_;
  uint64_t planned_ = 0;
  bool refuse_ = false;
};

TEST_F(FragmentFileTest, WorkedExampleConcentrated) {
  MakeVolume(8000);  // L = 1000
  AddFile(80, 7000);
  uint32_t seed = 0;
  // u = 16384 puts fragment 0 at byte 500; u = 24575 then gives 562, aligned to 560.
  ASSERT_TRUE(test::FindSeedForDraws({16384, 24575}, &seed));
  EXPECT_EQ(Fragment(2, 40, kConcentrated, seed), kFragmentSucceeded);
  ASSERT_EQ(Moves().size(), 2u);
  EXPECT_EQ(Moves()[0].vcn, 0);
  EXPECT_EQ(Moves()[0].lcn, 4000);
  EXPECT_EQ(Moves()[1].vcn, 40);
  EXPECT_EQ(Moves()[1].lcn, 4480);
  EXPECT_EQ(Moves()[1].count, 40u);
  EXPECT_EQ(memory_->RunsOf("f.bin"),
            (std::vector<MemoryRun>{{0, 40, 4000}, {40, 40, 4480}}));
  EXPECT_EQ(display_.status_history,
            (std::vector<std::string>{"Attempting to move file fragment 1 to Volume Cluster 4000",
                                      "Attempting to move file fragment 2 to Volume Cluster 4480"}));
  EXPECT_EQ(display_.progress_history, (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(display_.moves_begun, 2);
  EXPECT_EQ(recorder_->bitmap_reads, 3);  // the header probe and one read per fragment
}

TEST_F(FragmentFileTest, OneFragmentMovesTheWholeFileInOneRequest) {
  for (int32_t method : kAllMethods) {
    MakeVolume(100000, 1);
    AddFile(300, 99000);
    EXPECT_EQ(Fragment(1, 300, method), kFragmentSucceeded) << method;
    ASSERT_EQ(Moves().size(), 1u);
    EXPECT_EQ(Moves()[0].count, 300u);
    EXPECT_EQ(memory_->RunsOf("f.bin").size(), 1u);
    TearDown();
  }
}

TEST_F(FragmentFileTest, LastFragmentTakesTheRemainder) {
  MakeVolume(100000, 1);
  AddFile(1000, 50000);
  const uint64_t size = FragmentSizeFor(1000, 10, kFragmentSizeSmall);
  ASSERT_EQ(size, 10u);
  EXPECT_EQ(Fragment(10, size, kRandom, 7), kFragmentSucceeded);
  ASSERT_EQ(Moves().size(), 10u);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(Moves()[i].vcn, i * 10);
    EXPECT_EQ(Moves()[i].count, 10u);
  }
  EXPECT_EQ(Moves()[9].vcn, 90);  // i * F for the last one too
  EXPECT_EQ(Moves()[9].count, 910u);
}

TEST_F(FragmentFileTest, ShortFragmentsStartAtAnyBitExceptWithRandom) {
  for (int32_t method : {kConcentrated, kScattered, kRandom}) {
    MakeVolume(200000, 1);
    AddFile(400, 199000);
    ASSERT_EQ(Fragment(100, 4, method, 99), kFragmentSucceeded);
    int off_byte = 0;
    for (const MoveRequest& move : Moves()) off_byte += move.lcn % 8 != 0;
    if (method == kRandom)
      EXPECT_EQ(off_byte, 0);
    else
      EXPECT_GT(off_byte, 50) << method;
    TearDown();
  }
}

TEST_F(FragmentFileTest, FirstFitLandsFragmentsBackToBack) {
  MakeVolume(4096);
  AddFile(320, 3000);
  EXPECT_EQ(Fragment(10, 32, kFirstFit), kFragmentSucceeded);
  ASSERT_EQ(Moves().size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Moves()[i].lcn, 32 * i);
}

TEST_F(FragmentFileTest, FirstFitResumingInsideAByteTakesTheNextCluster) {
  // After a 10-cluster fragment the search resumes at bit 2 of byte 1; the
  // next run is tested from exactly there, so it follows on directly.
  MakeVolume(4096);
  AddFile(50, 3000);
  EXPECT_EQ(Fragment(5, 10, kFirstFit), kFragmentSucceeded);
  ASSERT_EQ(Moves().size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Moves()[i].lcn, 10 * i);
  EXPECT_EQ(recorder_->moves.size(), 5u);  // no refused move on the way
}

TEST_F(FragmentFileTest, FirstFitNeverGoesBackForRoomBehindIt) {
  // Fragment 0 would go from 0..15 to 64..79, its old clusters free at
  // once, but the search for fragment 1 carries on past 80 and runs out:
  // planned whole, the job moves nothing.
  MakeVolume(256, 1);
  AddFile(32, 0);
  ASSERT_EQ(memory_->MarkUnmovable(32, 32), kErrorSuccess);
  ASSERT_EQ(memory_->MarkUnmovable(80, 176), kErrorSuccess);
  EXPECT_EQ(Fragment(2, 16, kFirstFit), kFragmentNoRoom);
  EXPECT_TRUE(recorder_->moves.empty());
  EXPECT_EQ(planned_, 1u);
  EXPECT_TRUE(memory_->IsUsed(0));
  EXPECT_TRUE(display_.boxes.empty());
  EXPECT_TRUE(display_.progress_history.empty());
}

// The last, largest piece finds no room once the others have theirs; the
// others would fit. Before, every other piece was moved first.
TEST_F(FragmentFileTest, APlanThatCannotPlaceEveryPieceMovesNothing) {
  for (int32_t method : kAllMethods) {
    MakeVolume(4096, 1);
    AddFile(200, 3800);
    // Free runs of 40 clusters (70 once the first pieces leave, 96 at the
    // end): the three pieces of 10 fit, the last of 170 does not.
    for (int64_t lcn = 40; lcn < 3800; lcn += 80)
      ASSERT_EQ(memory_->MarkUnmovable(lcn, 40), kErrorSuccess);
    ASSERT_EQ(memory_->MarkUnmovable(0, 40), kErrorSuccess);
    EXPECT_EQ(Fragment(4, 10, method, 9), kFragmentNoRoom) << method;
    EXPECT_TRUE(recorder_->moves.empty()) << method;
    EXPECT_EQ(planned_, 3u) << method;
    EXPECT_EQ(memory_->RunsOf("f.bin"), (std::vector<MemoryRun>{{0, 200, 3800}}));
    TearDown();
  }
}

// A volume that could not keep the moves refuses the job before its plan.
TEST_F(FragmentFileTest, AVolumeThatCannotKeepMovesRefusesBeforeAnything) {
  MakeVolume(4096);
  AddFile(64, 3000);
  refuse_ = true;
  EXPECT_EQ(Fragment(4, 16, kScattered), kFragmentFailed);
  EXPECT_EQ(recorder_->bitmap_reads, 0);
  EXPECT_TRUE(recorder_->moves.empty());
  EXPECT_EQ(display_.status, "Error: /img cannot be written: try again");
}

TEST_F(FragmentFileTest, RefusedMoveLeadsToAnotherAttemptWithAFreshBitmap) {
  for (uint32_t code : {kErrorAccessDenied, kErrorInvalidParameter}) {
    MakeVolume(100000, 1);
    AddFile(30, 90000);
    memory_->InjectFailure(MemoryOperation::kMoveFile, code, 1, 1);  // fragment 2's first move
    EXPECT_EQ(Fragment(3, 10, kScattered, 5), kFragmentSucceeded);
    EXPECT_EQ(recorder_->moves.size(), 4u);
    EXPECT_EQ(recorder_->moves[1].result, code);
    EXPECT_EQ(recorder_->moves[2].vcn, 10);  // the same fragment again
    // The probe, a window for each piece's plan, and one for each piece
    // planned again after the refusal (the refused one and the last).
    EXPECT_EQ(recorder_->bitmap_reads, 1 + 3 + 2);
    EXPECT_EQ(Messages("Attempting to move file fragment 2 "), 2);
    EXPECT_EQ(display_.progress_history, (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_TRUE(display_.boxes.empty());
    TearDown();
  }
}

TEST_F(FragmentFileTest, MovesRefusedForeverStillEndTheSearch) {
  for (int32_t method : kAllMethods) {
    MakeVolume(2048);
    AddFile(64, 1900);
    memory_->InjectFailure(MemoryOperation::kMoveFile, kErrorAccessDenied, 0, ~uint64_t{0});
    EXPECT_EQ(Fragment(4, 16, method), kFragmentNoRoom) << method;
    EXPECT_TRUE(Moves().empty());
    EXPECT_EQ(memory_->RunsOf("f.bin"), (std::vector<MemoryRun>{{0, 64, 1900}}));
    TearDown();
  }
}

TEST_F(FragmentFileTest, VolumeUnderEightClustersHasNoRoom) {
  for (int32_t method : kAllMethods) {
    MakeVolume(7);
    AddFile(2, 0);
    EXPECT_EQ(Fragment(1, 2, method), kFragmentNoRoom) << method;
    EXPECT_TRUE(recorder_->moves.empty());
    EXPECT_TRUE(display_.boxes.empty());
    TearDown();
  }
}

TEST_F(FragmentFileTest, NoRunReachesPastTheLastCluster) {
  // 76 clusters: the 32-bit unit at byte 8 would cover clusters 64..95,
  // of which only 64..75 exist and are free.
  for (int32_t method : kAllMethods) {
    MakeVolume(76);
    AddFile(32, 0);
    ASSERT_EQ(memory_->MarkUnmovable(32, 32), kErrorSuccess);
    EXPECT_EQ(Fragment(1, 32, method), kFragmentNoRoom) << method;
    EXPECT_TRUE(recorder_->moves.empty()) << method;
    TearDown();
  }
  // Clusters of the final partial byte are used when they are free.
  MakeVolume(76);
  AddFile(4, 0);
  ASSERT_EQ(memory_->MarkUnmovable(4, 68), kErrorSuccess);
  EXPECT_EQ(Fragment(1, 4, kFirstFit), kFragmentNoRoom);  // no unit starts at byte L
}

TEST_F(FragmentFileTest, StatusLinesForEveryHundredthPartOfTheFragments) {
  MakeVolume(100000, 1);
  AddFile(250, 90000);
  EXPECT_EQ(Fragment(250, 1, kRandom, 3), kFragmentSucceeded);
  ASSERT_EQ(display_.status_history.size(), 125u);
  for (std::size_t n = 0; n < 125; ++n)
    EXPECT_EQ(display_.status_history[n].rfind(
                  "Attempting to move file fragment " + std::to_string(2 * n + 1) + " to ", 0),
              0u);
  EXPECT_EQ(display_.progress_history.size(), 250u);
  TearDown();

  MakeVolume(100000, 1);
  AddFile(101, 90000);
  EXPECT_EQ(Fragment(101, 1, kConcentrated, 3), kFragmentSucceeded);
  EXPECT_EQ(display_.status_history.size(), 101u);
}

TEST_F(FragmentFileTest, FailuresShowTheirBoxAndEndWithMinusTwo) {
  struct Case {
    MemoryOperation operation;
    uint32_t code;
    uint64_t skip;
    test::RecordedBox box;
  };
  const Case cases[] = {
      {MemoryOperation::kGetVolumeBitmap, kErrorNotReady, 0,
       {"FSCTL_GET_VOLUME_BITMAP Error", kErrorNotReady, BoxOwner::kMainWindow, BoxIcon::kNone}},
      {MemoryOperation::kGetVolumeBitmap, kErrorNotReady, 2,  // at fragment 2
       {"FSCTL_GET_VOLUME_BITMAP", kErrorNotReady, BoxOwner::kNone, BoxIcon::kError}},
      {MemoryOperation::kMoveFile, kErrorIoDevice, 1,
       {"MoveFileFragment() Error", kErrorIoDevice, BoxOwner::kMainWindow, BoxIcon::kNone}},
  };
  for (const Case& c : cases) {
    MakeVolume(4096);
    AddFile(64, 3000);
    memory_->InjectFailure(c.operation, c.code, c.skip);
    EXPECT_EQ(Fragment(4, 16, kFirstFit), kFragmentFailed);
    ASSERT_EQ(display_.boxes.size(), 1u);
    EXPECT_EQ(display_.boxes[0].caption, c.box.caption);
    EXPECT_EQ(display_.boxes[0].code, c.box.code);
    EXPECT_EQ(display_.boxes[0].owner, c.box.owner);
    EXPECT_EQ(display_.boxes[0].icon, c.box.icon);
    TearDown();
  }
  // The read after a refused move fails the same way as a later read.
  MakeVolume(4096);
  AddFile(64, 3000);
  memory_->InjectFailure(MemoryOperation::kMoveFile, kErrorAccessDenied);
  memory_->InjectFailure(MemoryOperation::kGetVolumeBitmap, kErrorNotReady, 2);
  EXPECT_EQ(Fragment(4, 16, kFirstFit), kFragmentFailed);
  ASSERT_EQ(display_.boxes.size(), 1u);
  EXPECT_EQ(display_.boxes[0].caption, "FSCTL_GET_VOLUME_BITMAP");
}

TEST_F(FragmentFileTest, UnsoundRequestIsRefusedBeforeTouchingTheVolume) {
  MakeVolume(4096);
  AddFile(64, 3000);
  EXPECT_EQ(Fragment(65, 1, kFirstFit), kFragmentFailed);  // N > T
  EXPECT_EQ(Fragment(8, 10, kFirstFit), kFragmentFailed);  // 7 * 10 >= 64: no last fragment
  EXPECT_EQ(Fragment(2, 0, kFirstFit), kFragmentFailed);
  EXPECT_EQ(Fragment(2, 16, 4), kFragmentFailed);          // no such method
  EXPECT_EQ(display_.boxes.size(), 4u);
  EXPECT_EQ(display_.boxes[0].caption, "FragmentFile() Error");
  EXPECT_EQ(recorder_->bitmap_reads, 0);
}

TEST_F(FragmentFileTest, StopsBetweenMovesWhenAsked) {
  MakeVolume(4096);
  AddFile(100, 3000);
  display_.stop_after = 3;
  EXPECT_EQ(Fragment(10, 10, kFirstFit), kJobStopped);
  EXPECT_EQ(recorder_->moves.size(), 3u);
  EXPECT_EQ(display_.progress_history, (std::vector<uint64_t>{1, 2, 3}));
  EXPECT_EQ(memory_->RunsOf("f.bin")[0], (MemoryRun{0, 30, 0}));
}

// A fragment of more than 2^32 clusters, with an in-use cluster past the
// 2^31st of the first candidate: tested with 64-bit counts and moved in
// two requests.
TEST(FragmentFileLarge, FragmentsBeyondThirtyTwoBitsAreTestedAndMovedWhole) {
  const int64_t two31 = int64_t{1} << 31, two32 = int64_t{1} << 32;
  test::SyntheticVolume volume(two32 + two31 + 64);
  volume.used.insert(two31 + 5);
  test::NoFile file;
  RecordingDisplay display;
  ShardixRandom random;
  JobContext context{&volume, &file, &display, &random, nullptr};
  const uint64_t length = static_cast<uint64_t>(two32) + 8;
  EXPECT_EQ(FragmentFile(context, 1, length, kFirstFit, length), kFragmentSucceeded);
  const int64_t target = two31 + 32;  // past the 32-bit unit that held the used cluster
  ASSERT_EQ(volume.moves.size(), 2u);
  EXPECT_EQ(volume.moves[0].vcn, 0);
  EXPECT_EQ(volume.moves[0].lcn, target);
  EXPECT_EQ(volume.moves[0].count, 0xFFFFFFFFu);
  EXPECT_EQ(volume.moves[1].vcn, 0xFFFFFFFF);
  EXPECT_EQ(volume.moves[1].lcn, target + 0xFFFFFFFF);
  EXPECT_EQ(volume.moves[1].count, 9u);
  EXPECT_EQ(display.status, "Attempting to move file fragment 1 to Volume Cluster 2147483680");
  EXPECT_EQ(display.moves_begun, 2);
}

// A volume of 2^62 clusters, whose bitmap no memory could hold: each
// fragment reads only the bitmap around the places its scans test.
TEST(FragmentFileLarge, FragmentCostsTheClustersItTestsNotTheVolume) {
  for (int32_t method : kAllMethods) {
    test::SyntheticVolume volume(int64_t{1} << 62);
    volume.used.insert(5);
    test::NoFile file;
    RecordingDisplay display;
    ShardixRandom random(7);
    JobContext context{&volume, &file, &display, &random, nullptr};
    EXPECT_EQ(FragmentFile(context, 50, 10, method, 500), kFragmentSucceeded) << method;
    ASSERT_EQ(volume.moves.size(), 50u);
    EXPECT_TRUE(display.boxes.empty());
    // 50 fragments: far less than 64 KiB of bitmap each (a 4 KiB window).
    EXPECT_LE(volume.bytes_requested, 50u * 65536u + 24u) << method;
    if (method == kFirstFit) {
      EXPECT_EQ(volume.moves[0].lcn, 8);  // past the byte that held 5
    }
  }
}

}  // namespace
}  // namespace shardix
