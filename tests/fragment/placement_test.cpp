// The planner's pure steps: the methods' formulas, the alignment, the scan
// units and where a scan stops, and which fragments get a status line.
#include "fragment/placement.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "tests/fragment/fragment_test_support.h"

namespace shardix {
namespace {

ShardixRandom RandomDrawing(std::vector<uint32_t> draws) {
  uint32_t seed = 0;
  EXPECT_TRUE(test::FindSeedForDraws(draws, &seed));
  return ShardixRandom(seed);
}

// A bitmap of `bytes` whole bytes, all free, with the spare bytes a scan
// may read past the end.
std::vector<uint8_t> FreeBitmap(int64_t bytes) { return std::vector<uint8_t>(bytes + 9, 0); }
void MarkUsed(std::vector<uint8_t>& bitmap, int64_t lcn) {
  bitmap[lcn / 8] |= static_cast<uint8_t>(1u << (lcn % 8));
}

TEST(DrawCandidate, WorkedExampleConcentratedStaysNearThePreviousTarget) {
  ShardixRandom random = RandomDrawing({24575});
  auto candidate = DrawCandidate(PlacementMethod::kConcentrated, 1, 500, 1000, 40, random);
  ASSERT_TRUE(candidate);
  EXPECT_EQ(*candidate, (BitPosition{562, 0}));
  EXPECT_EQ(AlignCandidate(*candidate, 40), (BitPosition{560, 0}));
}

TEST(DrawCandidate, NegativeScatteredCandidateUsesOneDrawAndNoStartBit) {
  ShardixRandom random = RandomDrawing({8000});
  ShardixRandom replica = random;
  // A 4-cluster fragment would draw its start bit, but not for a negative candidate.
  EXPECT_FALSE(DrawCandidate(PlacementMethod::kScattered, 1, 500, 1000, 4, random));
  replica.Next();
  EXPECT_EQ(random.State(), replica.State());
}

TEST(DrawCandidate, ScatteredJumpsAQuarterToAWholeBitmapAway) {
  for (uint32_t u : {0u, 16383u, 16384u, 21845u, 32767u}) {
    ShardixRandom random = RandomDrawing({u});
    auto candidate = DrawCandidate(PlacementMethod::kScattered, 3, 5000, 1000, 64, random);
    ASSERT_TRUE(candidate) << u;
    const int64_t offset = candidate->byte - 5000;
    EXPECT_GE(std::abs(offset), 250) << u;
    EXPECT_LE(std::abs(offset), 1000) << u;
  }
  ShardixRandom high = RandomDrawing({32767});  // r = 0.75, d = 0.25
  EXPECT_EQ(DrawCandidate(PlacementMethod::kScattered, 1, 0, 1000, 64, high)->byte, 250);
}

TEST(DrawCandidate, FirstFragmentAndRandomMethodLieAnywhere) {
  for (PlacementMethod method :
       {PlacementMethod::kConcentrated, PlacementMethod::kScattered, PlacementMethod::kRandom}) {
    ShardixRandom zero = RandomDrawing({0});
    EXPECT_EQ(DrawCandidate(method, 0, 700, 1000, 64, zero)->byte, 0);
    ShardixRandom top = RandomDrawing({32767});
    EXPECT_EQ(DrawCandidate(method, 0, 700, 1000, 64, top)->byte, 1000);  // p = L: never free
  }
  ShardixRandom random = RandomDrawing({16384});
  EXPECT_EQ(DrawCandidate(PlacementMethod::kRandom, 9, 10, 1000, 64, random)->byte, 500);
}

TEST(DrawCandidate, ShortFragmentsStartAtAnyBitExceptWithRandom) {
  for (PlacementMethod method :
       {PlacementMethod::kConcentrated, PlacementMethod::kScattered, PlacementMethod::kRandom}) {
    std::set<int> bits;
    ShardixRandom random(12345);
    for (int i = 0; i < 2000; ++i)
      if (auto candidate = DrawCandidate(method, 0, 0, 1000, 7, random))
        bits.insert(candidate->bit);
    if (method == PlacementMethod::kRandom)
      EXPECT_EQ(bits, (std::set<int>{0}));
    else
      EXPECT_EQ(bits, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
  }
  // Bit 7 only for u' = 32767; fragments of 8 clusters or more draw no bit.
  ShardixRandom top = RandomDrawing({100, 32767});
  EXPECT_EQ(DrawCandidate(PlacementMethod::kConcentrated, 0, 0, 1000, 7, top)->bit, 7);
  ShardixRandom eight = RandomDrawing({100, 32767});
  ShardixRandom replica = eight;
  EXPECT_EQ(DrawCandidate(PlacementMethod::kConcentrated, 0, 0, 1000, 8, eight)->bit, 0);
  replica.Next();
  EXPECT_EQ(eight.State(), replica.State());
}

TEST(AlignCandidate, AlignsByteStartsByFragmentLength) {
  EXPECT_EQ(AlignCandidate({563, 0}, 32), (BitPosition{560, 0}));
  EXPECT_EQ(AlignCandidate({563, 0}, 31), (BitPosition{562, 0}));
  EXPECT_EQ(AlignCandidate({563, 0}, 16), (BitPosition{562, 0}));
  EXPECT_EQ(AlignCandidate({563, 0}, 15), (BitPosition{563, 0}));
  // A resume position inside a byte is kept, whatever the length.
  EXPECT_EQ(AlignCandidate({563, 5}, 40), (BitPosition{563, 5}));
}

TEST(ScanCandidate, WorkedExampleTestsFourBytesThenOne) {
  std::vector<uint8_t> bitmap = FreeBitmap(1000);
  MarkUsed(bitmap, 4479);  // just before the run
  MarkUsed(bitmap, 4520);  // just after it
  ScanOutcome scan = ScanCandidate(bitmap.data(), 1000, {560, 0}, 40);
  EXPECT_TRUE(scan.free);
  EXPECT_EQ(scan.stop, (BitPosition{565, 0}));

  MarkUsed(bitmap, 4519);  // in byte 564, the second unit
  scan = ScanCandidate(bitmap.data(), 1000, {560, 0}, 40);
  EXPECT_FALSE(scan.free);
  EXPECT_EQ(scan.stop, (BitPosition{565, 0}));

  MarkUsed(bitmap, 4481);  // in the first unit: the cursor is already past it
  scan = ScanCandidate(bitmap.data(), 1000, {560, 0}, 40);
  EXPECT_EQ(scan.stop, (BitPosition{564, 0}));
}

TEST(ScanCandidate, SingleClustersCrossByteBoundaries) {
  std::vector<uint8_t> bitmap = FreeBitmap(10);
  ScanOutcome scan = ScanCandidate(bitmap.data(), 10, {3, 6}, 5);
  EXPECT_TRUE(scan.free);
  EXPECT_EQ(scan.stop, (BitPosition{4, 3}));
  MarkUsed(bitmap, 33);  // byte 4, bit 1
  scan = ScanCandidate(bitmap.data(), 10, {3, 6}, 5);
  EXPECT_FALSE(scan.free);
  EXPECT_EQ(scan.stop, (BitPosition{4, 2}));
}

TEST(ScanCandidate, StartInsideAByteTestsExactlyTheTargetRun) {
  // Run of 10 from cluster 10 (byte 1, bit 2): clusters 10..19.
  std::vector<uint8_t> bitmap = FreeBitmap(10);
  MarkUsed(bitmap, 8);
  MarkUsed(bitmap, 9);
  MarkUsed(bitmap, 20);
  ScanOutcome scan = ScanCandidate(bitmap.data(), 10, {1, 2}, 10);
  EXPECT_TRUE(scan.free);
  EXPECT_EQ(scan.stop, (BitPosition{2, 4}));
  MarkUsed(bitmap, 19);
  EXPECT_FALSE(ScanCandidate(bitmap.data(), 10, {1, 2}, 10).free);

  // Longer runs switch to whole units once the cursor reaches a byte boundary.
  std::vector<uint8_t> wide = FreeBitmap(20);
  MarkUsed(wide, 12);
  scan = ScanCandidate(wide.data(), 20, {1, 5}, 40);  // clusters 13..52
  EXPECT_TRUE(scan.free);
  EXPECT_EQ(scan.stop, (BitPosition{6, 5}));
}

TEST(ScanCandidate, NoUnitStartsAtTheEndOfTheBitmapOrPastIt) {
  std::vector<uint8_t> bitmap = FreeBitmap(8);
  ScanOutcome scan = ScanCandidate(bitmap.data(), 8, {7, 6}, 3);  // would need byte 8
  EXPECT_FALSE(scan.free);
  EXPECT_EQ(scan.stop, (BitPosition{8, 0}));
  EXPECT_FALSE(ScanCandidate(bitmap.data(), 8, {8, 0}, 1).free);
  EXPECT_FALSE(ScanCandidate(bitmap.data(), 0, {0, 0}, 1).free);  // a volume under 8 clusters
  EXPECT_TRUE(ScanCandidate(bitmap.data(), 8, {4, 0}, 32).free);
}

TEST(ShowsMoveMessage, EveryFragmentUpToAHundredThenEveryHundredthPart) {
  for (uint64_t i = 0; i < 100; ++i) EXPECT_TRUE(ShowsMoveMessage(i, 100));
  for (uint64_t i = 0; i < 101; ++i) EXPECT_TRUE(ShowsMoveMessage(i, 101));
  std::vector<uint64_t> shown;
  for (uint64_t i = 0; i < 250; ++i)
    if (ShowsMoveMessage(i, 250)) shown.push_back(i);
  ASSERT_EQ(shown.size(), 125u);
  for (std::size_t n = 0; n < shown.size(); ++n) EXPECT_EQ(shown[n], 2 * n);
  uint64_t count = 0;
  for (uint64_t i = 0; i < 19999; ++i) count += ShowsMoveMessage(i, 19999);
  EXPECT_LT(count, 200u);
}

}  // namespace
}  // namespace shardix
