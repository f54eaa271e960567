// The placement planner's pure steps: where a placement method proposes to
// put a fragment, how the proposal is aligned, and whether the bitmap shows
// the run there as free. FragmentFile strings them together; they hold no
// state of their own, so each is tested on its own bitmap.
#pragma once

#include <cstdint>
#include <optional>

#include "fragment/random.h"

namespace shardix {

// The "Location on Disk" choices, by their index in the list.
enum class PlacementMethod : int32_t {
  kConcentrated = 0,
  kScattered = 1,
  kRandom = 2,
  kFirstFit = 3,
};
constexpr int32_t kPlacementMethodCount = 4;

// A place in the bitmap: cluster 8 * byte + bit.
struct BitPosition {
  int64_t byte = 0;
  int bit = 0;

  int64_t Cluster() const { return byte * 8 + bit; }
  bool operator==(const BitPosition&) const = default;
};

// A random method's candidate for fragment `index` of `length` clusters on
// a bitmap of `bitmap_bytes` whole bytes, drawing one value from `random`
// (two for Concentrated and Scattered fragments under 8 clusters, whose
// start bit is drawn as well). `last_byte` is the byte of the previous
// fragment's target. Returns nothing for a negative byte index: that
// attempt is used up without a scan and without the second draw.
std::optional<BitPosition> DrawCandidate(PlacementMethod method, uint64_t index, int64_t last_byte,
                                         int64_t bitmap_bytes, int64_t length,
                                         ShardixRandom& random);

// Moves a byte-aligned candidate back so that the first 32-bit (fragments
// of 32 clusters or more) or 16-bit (16 to 31 clusters) test starts on a
// multiple of its width. A start inside a byte stays where it is: that run
// cannot begin on such a multiple anyway, and the fallback search must
// start no earlier than where its previous scan stopped.
BitPosition AlignCandidate(BitPosition candidate, int64_t length);

struct ScanOutcome {
  bool free = false;
  BitPosition stop;  // just past the last unit tested: the resume position
};

// The test of the `length` clusters from `start`, unit by unit: from a byte
// boundary 32, 16, 8 and then single clusters at a time; from inside a byte
// single clusters up to the next byte boundary first, so exactly the target
// run is tested. No unit starts at byte `bitmap_bytes` or beyond, and a unit
// that reaches into that byte counts as in use. The cursor moves past each
// unit before the unit is examined, so `stop` lies past the unit that held
// the first cluster that cannot be used.
//
// The units a scan tests depend only on `start` and `length`, so the
// outcome follows from `first_unusable`: the first cluster from `start` on
// that is in use or lies at or past byte `bitmap_bytes` (anything at or past
// start + length when the run is free). Finding that cluster a word at a
// time and placing it in its unit gives the unit-by-unit result at a
// fraction of the cost.
ScanOutcome ScanOutcomeAt(BitPosition start, int64_t length, int64_t bitmap_bytes,
                          int64_t first_unusable);

// The end of the part of a scan that the bitmap has to answer: clusters
// from `start` on below start + length and below byte `bitmap_bytes`.
int64_t ScanReachEnd(BitPosition start, int64_t length, int64_t bitmap_bytes);

// The scan over a bitmap held whole, of at least bitmap_bytes readable bytes.
ScanOutcome ScanCandidate(const uint8_t* bitmap, int64_t bitmap_bytes, BitPosition start,
                          int64_t length);

// Whether fragment `index` of `fragment_count` gets its "Attempting to
// move" status line: every one up to 100 fragments, else every
// (fragment_count / 100)-th.
bool ShowsMoveMessage(uint64_t index, uint64_t fragment_count);

}  // namespace shardix
