// The ownership scan below both `shardix check` and a job's pre-flight: the
// clusters every in-use file record's runs claim, compared with $Bitmap;
// each attribute's extents checked to chain; each attribute list followed
// as the library's readers follow it; and the boot sector against its
// backup. Private to this folder: it includes the library's headers.
#pragma once

#include <cstdint>
#include <vector>

#include "volume/ntfsimage/consistency_check.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

// Fills `report` (all but the owners of cross-linked clusters) from the
// mounted volume. `owned`, when not null, receives one bit per cluster (bit
// c % 64 of word c / 64) for the clusters some file owns. Returns 0 when the
// scan ran, or the code of what kept it from running.
uint32_t ScanOwnership(ntfs_volume* vol, ConsistencyReport* report,
                       std::vector<uint64_t>* owned);

// Names the records that own each span of report->cross_linked: a second
// pass over the records, made only when there are cross-links.
uint32_t FindCrossLinkOwners(ntfs_volume* vol, ConsistencyReport* report);

}  // namespace shardix::ntfsimage
