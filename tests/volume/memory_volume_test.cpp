// What only the simulated volume offers: checkpoints, injected failures and
// the scale the benchmarks need.
#include <gtest/gtest.h>

#include "volume/error_codes.h"
#include "volume/memory/memory_volume.h"

namespace shardix {
namespace {

struct Opened {
  std::unique_ptr<Volume> volume;
  std::unique_ptr<VolumeFile> file;
};

Opened Open(const std::shared_ptr<MemoryVolume>& memory, const std::string& name) {
  Opened opened;
  EXPECT_EQ(memory->OpenVolume(&opened.volume), kErrorSuccess);
  EXPECT_EQ(memory->OpenFile(name, &opened.file), kErrorSuccess);
  return opened;
}

std::shared_ptr<MemoryVolume> SmallVolume(uint64_t checkpoint_every = 0) {
  MemoryVolume::Options options;
  options.cluster_count = 1000;
  options.checkpoint_every_moves = checkpoint_every;
  auto volume = MemoryVolume::Create(options);
  EXPECT_EQ(volume->AddFile("a", 10 * 4096, {{0, 10, 100}}), kErrorSuccess);
  return volume;
}

TEST(MemoryVolume, FreedClustersWaitForCheckpoint) {
  auto memory = SmallVolume();
  Opened a = Open(memory, "a");
  ASSERT_EQ(a.volume->MoveClusters(*a.file, 0, 500, 10), kErrorSuccess);
  EXPECT_FALSE(memory->IsUsed(100));  // the bitmap shows them free at once...
  EXPECT_EQ(a.volume->MoveClusters(*a.file, 0, 100, 10), kErrorAccessDenied);  // ...but not usable
  EXPECT_EQ(a.volume->MoveClusters(*a.file, 0, 105, 2), kErrorAccessDenied);
  memory->Checkpoint();
  EXPECT_EQ(a.volume->MoveClusters(*a.file, 0, 100, 10), kErrorSuccess);
  EXPECT_EQ(memory->RunsOf("a"), (std::vector<MemoryRun>{{0, 10, 100}}));
}

TEST(MemoryVolume, AutomaticCheckpointAfterConfiguredMoves) {
  auto memory = SmallVolume(2);
  Opened a = Open(memory, "a");
  ASSERT_EQ(a.volume->MoveClusters(*a.file, 0, 500, 10), kErrorSuccess);
  EXPECT_EQ(a.volume->MoveClusters(*a.file, 0, 100, 5), kErrorAccessDenied);
  ASSERT_EQ(a.volume->MoveClusters(*a.file, 0, 600, 5), kErrorSuccess);  // second move: checkpoint
  EXPECT_EQ(a.volume->MoveClusters(*a.file, 0, 100, 5), kErrorSuccess);
}

TEST(MemoryVolume, MovedPiecesJoinNeighboursButUntouchedRunsStaySplit) {
  MemoryVolume::Options options;
  options.cluster_count = 1000;
  auto memory = MemoryVolume::Create(options);
  // Two extents reported separately although adjacent on the volume.
  ASSERT_EQ(memory->AddFile("b", 0, {{0, 4, 10}, {4, 4, 14}, {8, 4, 300}}), kErrorSuccess);
  Opened b = Open(memory, "b");
  ASSERT_EQ(b.volume->MoveClusters(*b.file, 8, 18, 4), kErrorSuccess);
  EXPECT_EQ(memory->RunsOf("b"), (std::vector<MemoryRun>{{0, 4, 10}, {4, 8, 14}}));
  // Splitting the middle of a run leaves three pieces.
  ASSERT_EQ(b.volume->MoveClusters(*b.file, 5, 700, 2), kErrorSuccess);
  EXPECT_EQ(memory->RunsOf("b"),
            (std::vector<MemoryRun>{{0, 4, 10}, {4, 1, 14}, {5, 2, 700}, {7, 5, 17}}));
}

TEST(MemoryVolume, MoveKeepsEveryClustersContent) {
  auto memory = SmallVolume();
  std::vector<uint64_t> before;
  for (int vcn = 0; vcn < 10; ++vcn) before.push_back(memory->FileClusterContent("a", vcn));
  Opened a = Open(memory, "a");
  ASSERT_EQ(a.volume->MoveClusters(*a.file, 3, 800, 4), kErrorSuccess);
  for (int vcn = 0; vcn < 10; ++vcn) {
    EXPECT_EQ(memory->FileClusterContent("a", vcn), before[vcn]) << vcn;
    EXPECT_NE(before[vcn], 0u);
  }
  EXPECT_EQ(memory->FreeClusters(), 990u);
}

TEST(MemoryVolume, InjectedFailuresHitTheChosenCallAndChangeNothing) {
  auto memory = SmallVolume();
  Opened a = Open(memory, "a");
  memory->InjectFailure(MemoryOperation::kMoveFile, kErrorIoDevice, /*skip=*/1, /*times=*/1);
  EXPECT_EQ(a.volume->MoveClusters(*a.file, 0, 500, 2), kErrorSuccess);
  EXPECT_EQ(a.volume->MoveClusters(*a.file, 2, 600, 2), kErrorIoDevice);
  EXPECT_EQ(memory->RunsOf("a"), (std::vector<MemoryRun>{{0, 2, 500}, {2, 8, 102}}));
  EXPECT_FALSE(memory->IsUsed(600));
  EXPECT_EQ(a.volume->MoveClusters(*a.file, 2, 600, 2), kErrorSuccess);
  EXPECT_EQ(memory->CallCount(MemoryOperation::kMoveFile), 3u);

  memory->InjectFailure(MemoryOperation::kGetVolumeBitmap, kErrorNotReady, 0, ~uint64_t{0});
  VolumeBitmapBuffer probe{};
  EXPECT_EQ(a.volume->GetVolumeBitmap(0, &probe, sizeof probe, nullptr), kErrorNotReady);
  EXPECT_EQ(a.volume->GetVolumeBitmap(0, &probe, sizeof probe, nullptr), kErrorNotReady);
  memory->ClearFailures();
  EXPECT_EQ(a.volume->GetVolumeBitmap(0, &probe, sizeof probe, nullptr), kErrorMoreData);

  memory->InjectFailure(MemoryOperation::kOpenFile, kErrorSharingViolation);
  std::unique_ptr<VolumeFile> file;
  EXPECT_EQ(memory->OpenFile("a", &file), kErrorSharingViolation);
  EXPECT_FALSE(file);
}

TEST(MemoryVolume, LayoutErrorsAndForeignHandlesAreRefused) {
  auto memory = SmallVolume();
  EXPECT_EQ(memory->AddFile("a", 0, {}), kErrorAlreadyExists);
  EXPECT_EQ(memory->AddFile("c", 0, {{0, 5, 98}}), kErrorInvalidParameter);  // overlaps "a"
  EXPECT_EQ(memory->AddFile("c", 0, {{1, 5, 0}}), kErrorInvalidParameter);   // not from VCN 0
  EXPECT_EQ(memory->AddFile("c", 0, {{0, 5, 998}}), kErrorInvalidParameter);  // past the end
  ASSERT_EQ(memory->AddDirectory("dir"), kErrorSuccess);

  auto other = SmallVolume();
  Opened mine = Open(memory, "a");
  Opened theirs = Open(other, "a");
  EXPECT_EQ(mine.volume->MoveClusters(*theirs.file, 0, 500, 1), kErrorInvalidParameter);
  std::unique_ptr<VolumeFile> dir;
  ASSERT_EQ(memory->OpenFile("dir", &dir), kErrorSuccess);
  EXPECT_EQ(mine.volume->MoveClusters(*dir, 0, 500, 1), kErrorAccessDenied);
}

TEST(MemoryVolume, FirstFitFillsTheGapsInOrder) {
  auto memory = SmallVolume();
  ASSERT_EQ(memory->AddFileFirstFit("f", 105 * 4096), kErrorSuccess);
  EXPECT_EQ(memory->RunsOf("f"), (std::vector<MemoryRun>{{0, 100, 0}, {100, 5, 110}}));
  EXPECT_EQ(memory->AddFileFirstFit("huge", 2000 * 4096), kErrorDiskFull);
}

TEST(MemoryVolume, ScalesToTwoToThe32Clusters) {
  MemoryVolume::Options options;
  options.cluster_count = uint64_t{1} << 32;
  auto memory = MemoryVolume::Create(options);
  ASSERT_EQ(memory->AddFile("far", 0, {{0, 3, (int64_t{1} << 32) - 3}}), kErrorSuccess);
  std::unique_ptr<Volume> volume;
  ASSERT_EQ(memory->OpenVolume(&volume), kErrorSuccess);
  uint8_t buffer[kVolumeBitmapHeaderSize + 8] = {};
  std::size_t returned = 0;
  ASSERT_EQ(volume->GetVolumeBitmap((int64_t{1} << 32) - 64, buffer, sizeof buffer, &returned),
            kErrorSuccess);
  EXPECT_EQ(buffer[kVolumeBitmapHeaderSize + 7], 0xE0);
  VolumeGeometry geometry;
  ASSERT_EQ(volume->GetGeometry(&geometry), kErrorSuccess);
  EXPECT_EQ(geometry.free_clusters, (uint64_t{1} << 32) - 3);
}

}  // namespace
}  // namespace shardix
