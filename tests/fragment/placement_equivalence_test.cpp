// The planner reads the bitmap in windows and finds the first cluster in use
// a word at a time. Its placements must be those of the plain method: the
// whole bitmap read for each fragment and after each refused move, and each
// candidate tested unit by unit (32, 16, 8 and single clusters). Both run
// here side by side on copies of many seeded layouts, for every method,
// seed and size, and must ask for the very same moves in the same order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>

#include "fragment/fragment_file.h"
#include "fragment/placement.h"
#include "tests/fragment/fragment_test_support.h"
#include "tests/support/recording_display.h"
#include "volume/memory/memory_volume.h"

namespace shardix {
namespace {

using test::MoveRequest;

// The whole bitmap, with the clusters past the volume's end marked in use
// (the final partial byte and 8 bytes beyond it), as the planner once held it.
std::vector<uint8_t> WholeBitmap(Volume& volume, int64_t clusters, uint32_t* code) {
  std::vector<uint8_t> block(kVolumeBitmapHeaderSize + clusters / 8 + 9, 0);
  std::size_t returned = 0;
  *code = volume.GetVolumeBitmap(0, block.data(), block.size(), &returned);
  std::vector<uint8_t> bits(block.begin() + kVolumeBitmapHeaderSize, block.end());
  bits[clusters / 8] |= static_cast<uint8_t>(0xFF << (clusters % 8));
  std::fill(bits.begin() + clusters / 8 + 1, bits.end(), 0xFF);
  return bits;
}

// The scan unit by unit, cursor moved before each unit is examined.
ScanOutcome UnitByUnit(const uint8_t* bits, int64_t bitmap_bytes, BitPosition cursor,
                       int64_t length) {
  int64_t count = 0;
  while (count < length) {
    if (cursor.byte >= bitmap_bytes) return {false, cursor};
    const uint8_t* at = bits + cursor.byte;
    const int64_t remaining = length - count;
    bool in_use;
    if (cursor.bit != 0 || remaining < 8) {
      in_use = ((*at >> cursor.bit) & 1) != 0;
      if (++cursor.bit == 8) cursor.bit = 0, ++cursor.byte;
      count += 1;
    } else {
      const int width = remaining >= 32 ? 4 : remaining >= 16 ? 2 : 1;
      in_use = std::any_of(at, at + width, [](uint8_t b) { return b != 0; });
      cursor.byte += width;
      count += 8 * width;
    }
    if (in_use) return {false, cursor};
  }
  return {true, cursor};
}

// The planning loop with the whole bitmap; moves go through `volume`.
int WholeBitmapPlanner(Volume& volume, VolumeFile& file, int64_t count, int64_t size,
                       PlacementMethod method, int64_t total, ShardixRandom& random) {
  VolumeBitmapBuffer header{};
  uint32_t code = volume.GetVolumeBitmap(0, &header, sizeof header, nullptr);
  if (code != kErrorSuccess && code != kErrorMoreData) return kFragmentFailed;
  const int64_t clusters = header.bitmap_size, bitmap_bytes = clusters / 8;
  BitPosition resume;
  int64_t last_byte = 0;
  for (int64_t i = 0; i < count; ++i) {
    const int64_t length = i == count - 1 ? total - (count - 1) * size : size;
    std::vector<uint8_t> bits = WholeBitmap(volume, clusters, &code);
    if (code != kErrorSuccess) return kFragmentFailed;
    for (uint64_t attempt = 1;; ++attempt) {
      BitPosition candidate;
      if (attempt > kRandomAttempts || method == PlacementMethod::kFirstFit) {
        const bool restart = method != PlacementMethod::kFirstFit && attempt == kRandomAttempts + 1;
        candidate = restart ? BitPosition{} : resume;
        if (candidate.byte >= bitmap_bytes) return kFragmentNoRoom;
      } else {
        auto drawn = DrawCandidate(method, static_cast<uint64_t>(i), last_byte, bitmap_bytes,
                                   length, random);
        if (!drawn) continue;
        candidate = *drawn;
      }
      candidate = AlignCandidate(candidate, length);
      const ScanOutcome scan = UnitByUnit(bits.data(), bitmap_bytes, candidate, length);
      resume = scan.stop;
      if (!scan.free) continue;
      code = volume.MoveClusters(file, i * size, candidate.Cluster(), static_cast<uint32_t>(length));
      if (code == kErrorSuccess) {
        last_byte = candidate.byte;
        break;
      }
      if (code != kErrorAccessDenied && code != kErrorInvalidParameter) return kFragmentFailed;
      bits = WholeBitmap(volume, clusters, &code);
      if (code != kErrorSuccess) return kFragmentFailed;
    }
  }
  return kFragmentSucceeded;
}

struct Layout {
  uint64_t clusters;
  uint64_t checkpoint_every;  // 0: freed clusters stay unusable, so moves get refused
  std::vector<std::pair<int64_t, int64_t>> used;  // unmovable runs
  int64_t file_lcn;
  int64_t file_clusters;
};

// Stretches of different density: nearly full (gaps shorter than most
// fragments), sparse, and empty, with the file somewhere free.
Layout MakeLayout(uint32_t seed) {
  std::mt19937_64 random(seed);
  const uint64_t sizes[] = {7, 9, 76, 1000, 4099, 65536 + 13, 600000, 1u << 22};
  Layout layout;
  layout.clusters = sizes[seed % std::size(sizes)] + random() % 5;
  layout.checkpoint_every = random() % 3;
  const int64_t n = static_cast<int64_t>(layout.clusters);
  layout.file_clusters = std::max<int64_t>(1, std::min<int64_t>(n / 4, 1 + random() % 3000));
  layout.file_lcn = static_cast<int64_t>(random() % static_cast<uint64_t>(n - layout.file_clusters + 1));
  int64_t lcn = 0;
  while (lcn < n) {
    const int64_t stretch = 1 + static_cast<int64_t>(random() % static_cast<uint64_t>(std::max<int64_t>(n / 3, 1)));
    const int kind = static_cast<int>(random() % 3);
    const int64_t stop = std::min(n, lcn + stretch);
    while (kind != 2 && lcn < stop) {
      const int64_t used = 1 + static_cast<int64_t>(random() % (kind == 0 ? 200 : 8));
      const int64_t gap = 1 + static_cast<int64_t>(random() % (kind == 0 ? 40 : 5000));
      layout.used.push_back({lcn, std::min(used, stop - lcn)});
      lcn += used + gap;
    }
    lcn = std::max(lcn, stop);
  }
  return layout;
}

std::shared_ptr<MemoryVolume> Build(const Layout& layout) {
  MemoryVolume::Options options;
  options.cluster_count = layout.clusters;
  options.checkpoint_every_moves = layout.checkpoint_every;
  options.track_data = false;
  auto memory = MemoryVolume::Create(options);
  const int64_t file_end = layout.file_lcn + layout.file_clusters;
  for (auto [lcn, length] : layout.used) {
    // Leave the file's own clusters to the file.
    const int64_t end = lcn + length;
    if (lcn < layout.file_lcn) memory->MarkUnmovable(lcn, std::min(end, layout.file_lcn) - lcn);
    if (end > file_end) memory->MarkUnmovable(std::max(lcn, file_end), end - std::max(lcn, file_end));
  }
  EXPECT_EQ(memory->AddFile("f.bin", static_cast<uint64_t>(layout.file_clusters) * 4096,
                            {{0, layout.file_clusters, layout.file_lcn}}),
            kErrorSuccess);
  return memory;
}

TEST(PlacementEquivalence, WindowedPlannerMovesAsTheWholeBitmapScanDoes) {
  int compared = 0, refused = 0, no_room = 0, refused_whole = 0, dry_runs = 0;
  for (uint32_t seed = 0; seed < 96; ++seed) {
    const Layout layout = MakeLayout(seed);
    for (int32_t method = 0; method < kPlacementMethodCount; ++method) {
      const uint64_t count = 1 + (seed * 7 + method) % std::min<uint64_t>(layout.file_clusters, 60);
      const uint64_t room = (layout.file_clusters - 1) / std::max<uint64_t>(count - 1, 1);
      const uint64_t size = count == 1 ? layout.file_clusters : 1 + (seed * 13 + method) % room;
      std::shared_ptr<MemoryVolume> ours = Build(layout), theirs = Build(layout);
      std::unique_ptr<Volume> our_volume, their_volume;
      std::unique_ptr<VolumeFile> our_file, their_file;
      ASSERT_EQ(ours->OpenVolume(&our_volume), kErrorSuccess);
      ASSERT_EQ(theirs->OpenVolume(&their_volume), kErrorSuccess);
      ASSERT_EQ(ours->OpenFile("f.bin", &our_file), kErrorSuccess);
      ASSERT_EQ(theirs->OpenFile("f.bin", &their_file), kErrorSuccess);
      test::RecordingVolume our_moves(our_volume.get()), their_moves(their_volume.get());

      test::RecordingDisplay display;
      ShardixRandom our_random(seed * 2654435761u), their_random(seed * 2654435761u);
      JobContext context{&our_moves, our_file.get(), &display, &our_random, nullptr};
      const int our_result = FragmentFile(context, count, size, method,
                                          static_cast<uint64_t>(layout.file_clusters));
      const int their_result = WholeBitmapPlanner(
          their_moves, *their_file, static_cast<int64_t>(count), static_cast<int64_t>(size),
          static_cast<PlacementMethod>(method), layout.file_clusters, their_random);

      SCOPED_TRACE("seed " + std::to_string(seed) + " method " + std::to_string(method) +
                   " clusters " + std::to_string(layout.clusters) + " count " +
                   std::to_string(count) + " size " + std::to_string(size));
      EXPECT_EQ(our_result, their_result);
      // Planned whole, the job asks for today's moves; only a plan that
      // cannot place every piece stops it before its first move (or, after
      // a refusal sent the planner back, before the next).
      ASSERT_LE(our_moves.moves.size(), their_moves.moves.size());
      bool any_refused = false;
      for (std::size_t m = 0; m < our_moves.moves.size(); ++m) {
        const MoveRequest& a = our_moves.moves[m];
        const MoveRequest& b = their_moves.moves[m];
        ASSERT_EQ(std::tie(a.vcn, a.lcn, a.count, a.result),
                  std::tie(b.vcn, b.lcn, b.count, b.result)) << "move " << m;
        any_refused |= a.result != kErrorSuccess;
        refused += a.result != kErrorSuccess;
      }
      if (our_result == kFragmentSucceeded) {
        EXPECT_EQ(our_moves.moves.size(), their_moves.moves.size());
        EXPECT_EQ(ours->RunsOf("f.bin"), theirs->RunsOf("f.bin"));
      } else if (our_result == kFragmentNoRoom && !any_refused) {
        // Nothing moved, and the plan placed what today's job moved before
        // it ran out of room.
        EXPECT_TRUE(our_moves.moves.empty());
        EXPECT_EQ(context.planned, their_moves.SucceededMoves().size());
        refused_whole += context.planned > 0;
      }
      // A dry run on the same layout and seed plans exactly the moves that
      // a run without refusals makes.
      if (our_result == kFragmentSucceeded && !any_refused) {
        std::shared_ptr<MemoryVolume> planned = Build(layout);
        std::unique_ptr<Volume> plan_volume;
        std::unique_ptr<VolumeFile> plan_file;
        ASSERT_EQ(planned->OpenVolume(&plan_volume), kErrorSuccess);
        ASSERT_EQ(planned->OpenFile("f.bin", &plan_file), kErrorSuccess);
        ShardixRandom plan_random(seed * 2654435761u);
        JobContext plan_context{plan_volume.get(), plan_file.get(), &display, &plan_random, nullptr};
        FragmentPlan plan;
        plan.dry_run = true;
        ASSERT_EQ(FragmentFile(plan_context, count, size, method,
                               static_cast<uint64_t>(layout.file_clusters), &plan),
                  kFragmentSucceeded);
        ASSERT_EQ(plan.pieces.size(), our_moves.moves.size());
        for (std::size_t m = 0; m < plan.pieces.size(); ++m)
          ASSERT_EQ(std::tie(plan.pieces[m].vcn, plan.pieces[m].lcn, plan.pieces[m].clusters),
                    std::tuple(our_moves.moves[m].vcn, our_moves.moves[m].lcn,
                               int64_t{our_moves.moves[m].count}))
              << "piece " << m;
        EXPECT_EQ(planned->MoveCount(), 0u);
        ++dry_runs;
      }
      no_room += our_result == kFragmentNoRoom;
      ++compared;
    }
  }
  // The layouts reach the refused moves, the searches that find no room
  // (also with pieces placed before), and the plans carried out as made.
  EXPECT_GT(refused, 0);
  EXPECT_GT(no_room, 0);
  EXPECT_GT(refused_whole, 0);
  EXPECT_GT(dry_runs, 0);
  EXPECT_EQ(compared, 96 * kPlacementMethodCount);
}

// Every start, length and in-use cluster near both ends of a small bitmap:
// the outcome worked out from the first unusable cluster is the
// unit-by-unit one.
TEST(PlacementEquivalence, ScanOutcomeMatchesUnitByUnitNearEveryBoundary) {
  const int64_t bitmap_bytes = 12;
  for (int64_t used = -1; used < 8 * bitmap_bytes + 8; ++used) {
    std::vector<uint8_t> bits(bitmap_bytes + 9, 0);
    bits[bitmap_bytes] = 0xF0;  // a partial byte of 4 clusters, as marked past the end
    std::fill(bits.begin() + bitmap_bytes + 1, bits.end(), 0xFF);
    if (used >= 0) bits[used / 8] |= static_cast<uint8_t>(1u << (used % 8));
    for (int64_t start = 0; start < 8 * bitmap_bytes + 4; ++start)
      for (int64_t length = 1; length <= 70; ++length) {
        const BitPosition at{start / 8, static_cast<int>(start % 8)};
        const ScanOutcome want = UnitByUnit(bits.data(), bitmap_bytes, at, length);
        const ScanOutcome got = ScanCandidate(bits.data(), bitmap_bytes, at, length);
        ASSERT_EQ(got.free, want.free) << used << " " << start << " " << length;
        ASSERT_EQ(got.stop, want.stop) << used << " " << start << " " << length;
      }
  }
}

}  // namespace
}  // namespace shardix
