#include "volume/ntfsimage/free_space.h"

#include "volume/bitmap_words.h"

namespace shardix::ntfsimage {

namespace {

// Clear bits in the whole data of a bitmap attribute; -1 when it cannot be
// read or holds nothing.
s64 CountClearBits(ntfs_attr* na, std::vector<u8>& buffer) {
  s64 offset = 0, clear = 0, got = 0;
  for (;;) {
    got = ntfs_attr_pread(na, offset, static_cast<s64>(buffer.size()), buffer.data());
    if (got <= 0) break;
    offset += got;
    clear += got * 8 - static_cast<s64>(CountSetBits(buffer.data(), static_cast<uint64_t>(got)));
  }
  if (got < 0 || offset == 0) return -1;
  return clear;
}

}  // namespace

int CountFreeSpace(ntfs_volume* vol) {
  std::vector<u8> buffer;
  try {
    buffer.resize(std::size_t{256} << 10);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return -1;
  }
  const s64 free_clusters = CountClearBits(vol->lcnbmp_na, buffer);
  if (free_clusters < 0) return -1;
  ntfs_attr* mft_bitmap = vol->mftbmp_na;
  s64 free_records = CountClearBits(mft_bitmap, buffer);
  if (free_records < 0) return -1;
  // Records the bitmap's allocation could describe beyond its data are free too.
  free_records += (mft_bitmap->allocated_size - mft_bitmap->data_size) << 3;
  vol->free_clusters = free_clusters;
  vol->free_mft_records = free_records;
  NVolSetFreeSpaceKnown(vol);
  return 0;
}

}  // namespace shardix::ntfsimage
