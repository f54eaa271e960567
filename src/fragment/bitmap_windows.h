// The planner's view of the volume bitmap: read in windows where a scan
// looks, not whole, so placing a fragment costs in proportion to the
// clusters its scans test rather than to the volume. A window that a scan
// runs past is followed by a larger one, up to a bound; windows are
// forgotten for each fragment and after each refused move, so what the
// planner tests is never older than it would be with the bitmap read whole
// at those moments.
#pragma once

#include <cstdint>
#include <vector>

#include "volume/volume.h"

namespace shardix {

class BitmapWindows {
 public:
  // The header probe: a 24-byte request whose ERROR_MORE_DATA still
  // delivers the bitmap size. Returns 0 (also when a tiny volume fits in
  // the probe), or the request's error code; ERROR_INVALID_DATA for a
  // header that gives a negative size.
  uint32_t Probe(Volume& volume);

  // The windows read so far no longer count; the next look reads afresh.
  void Forget() { window_bytes_ = 0; }

  // The first cluster in [from, end) that is in use, or `end` when all are
  // free; `end` lies within the whole bytes. Reads the windows it needs;
  // returns their request's error code (any but success or more-data,
  // which a window short of the end gives) or ERROR_NOT_ENOUGH_MEMORY.
  uint32_t FindInUse(Volume& volume, int64_t from, int64_t end, int64_t* found);

  int64_t whole_bytes() const { return cluster_count_ / 8; }  // L
  int64_t cluster_count() const { return cluster_count_; }

 private:
  // A window starts on a multiple of this many bytes; one that follows the
  // last doubles in size up to the bound.
  static constexpr int64_t kFirstWindowBytes = int64_t{1} << 12;
  static constexpr int64_t kLargestWindowBytes = int64_t{1} << 22;

  uint32_t ReadWindowAt(Volume& volume, int64_t byte);

  int64_t cluster_count_ = 0;
  std::vector<uint8_t> block_;  // the request's header, then the window
  int64_t window_first_ = 0;    // byte index of the window's first byte
  int64_t window_bytes_ = 0;    // 0: nothing read since the last Forget
};

}  // namespace shardix
