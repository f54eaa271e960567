// The consistency check's scan on a volume already mounted in this process:
// the pre-flight of a job runs it on the job's own mount. Private to this
// folder: it includes the library's headers.
#pragma once

#include <cstdint>
#include <vector>

#include "volume/ntfsimage/consistency_check.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

// Fills `report` as CheckImageConsistency does, except that the owners of
// cross-linked clusters are not looked up. `owned` receives one bit per
// cluster (bit c % 64 of word c / 64) for the clusters some file owns.
uint32_t ScanMountedVolume(ntfs_volume* vol, ConsistencyReport* report,
                           std::vector<uint64_t>* owned);

}  // namespace shardix::ntfsimage
