// Moving a file's clusters on a mounted image: copy the data, take the
// target in the bitmap, rewrite the runlist, then free the old clusters.
#pragma once

#include <cstdint>

#include "volume/ntfsimage/image_mount.h"

namespace shardix::ntfsimage {

// FSCTL_MOVE_FILE on an image. Call with mount.lock() held. 0 when moved;
// ERROR_INVALID_PARAMETER or ERROR_ACCESS_DENIED when refused (nothing
// changed); other codes for failures, after which the bitmap and the runlist
// are as they were whenever the old runlist could be written back.
uint32_t MoveImageClusters(ImageMount& mount, OpenedInode& inode, int64_t starting_vcn,
                      int64_t target_lcn, uint32_t cluster_count);

}  // namespace shardix::ntfsimage
