// The walk over a file's extents that fills the fragment list.
#pragma once

#include <cstdint>

#include "display/display.h"
#include "volume/volume.h"

namespace shardix {

// Each value has all bits set when there is none.
constexpr uint64_t kNoValue = ~uint64_t{0};

struct ScanResults {
  uint64_t fragment_count = kNoValue;
  uint64_t cluster_count = kNoValue;
  uint64_t file_size = kNoValue;
  uint64_t lcn_span = kNoValue;
  uint64_t volume_cluster_count = kNoValue;
};

// Walks the file's extents one query at a time, joins extents that follow
// each other on the volume into fragments and adds one row per fragment to
// the display's list. `volume` may be null: the volume cluster count then
// keeps the caller's value. Returns 0, or -1 after a failure that it has
// reported in a message box (any rows it added are taken away again).
int ScanFileExtents(VolumeFile* file, Volume* volume, Display& display, ScanResults* results);

}  // namespace shardix
