// Runlist arithmetic for the mover: which clusters a VCN range occupies, and
// the runlist with that range placed elsewhere. Runlists handed back here are
// allocated the way the library allocates its own (whole 4 KiB blocks),
// because the library later grows them in place on that assumption.
#pragma once

#include <vector>

#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

struct ClusterRun {
  LCN lcn;
  s64 length;
};

// Memory for `elements` runlist elements in the library's 4 KiB steps; null
// with errno set when out of memory. Release with free().
runlist_element* AllocateRunlist(size_t elements);

// The volume runs that hold [vcn, vcn + count) of a fully mapped runlist, in
// VCN order. False when part of the range is a hole, unallocated or past the
// end of the runlist.
bool RunsOfRange(const runlist_element* rl, VCN vcn, s64 count, std::vector<ClusterRun>* runs);

// A copy of the fully mapped runlist `rl` in which [vcn, vcn + count) lies at
// `target`, merged with the runs beside it where they now touch on the volume.
// `*first_changed` is the first VCN whose run differs from `rl`. Null with
// errno set on failure; `rl` itself is never changed.
runlist_element* PlaceRange(const runlist_element* rl, VCN vcn, s64 count, LCN target,
                            VCN* first_changed);

}  // namespace shardix::ntfsimage
