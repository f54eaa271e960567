// The free counts of a mount (free clusters, free MFT records), counted as
// the library counts them but over larger reads a word at a time: on a
// volume of 2^32 clusters the library's count, 64 KiB reads through a byte
// table, cost more than reading the 512 MiB bitmap itself.
#pragma once

#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

// Sets vol->free_clusters and vol->free_mft_records and marks the free space
// known. 0, or -1 with errno set when a bitmap cannot be read.
int CountFreeSpace(ntfs_volume* vol);

}  // namespace shardix::ntfsimage
