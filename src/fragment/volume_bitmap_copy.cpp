#include "fragment/volume_bitmap_copy.h"

#include <cstring>
#include <limits>
#include <new>

#include "volume/error_codes.h"

namespace shardix {

uint32_t VolumeBitmapCopy::Probe(Volume& volume) {
  uint8_t probe[sizeof(VolumeBitmapBuffer)] = {};
  std::size_t returned = 0;
  uint32_t code = volume.GetVolumeBitmap(0, probe, sizeof probe, &returned);
  if (code != kErrorSuccess && code != kErrorMoreData) return code;
  std::memcpy(&cluster_count_, probe + offsetof(VolumeBitmapBuffer, bitmap_size),
              sizeof cluster_count_);
  if (cluster_count_ < 0) {
    cluster_count_ = 0;
    return kErrorInvalidData;
  }
  return kErrorSuccess;
}

uint32_t VolumeBitmapCopy::Allocate() {
  const uint64_t whole = static_cast<uint64_t>(whole_bytes());
  const uint64_t overhead = kVolumeBitmapHeaderSize + kSpareBytes;
  if (whole > std::numeric_limits<std::size_t>::max() - overhead) return kErrorNotEnoughMemory;
  size_ = static_cast<std::size_t>(whole + overhead);
  block_.reset(new (std::nothrow) uint8_t[size_]());
  if (!block_) {
    size_ = 0;
    return kErrorNotEnoughMemory;
  }
  return kErrorSuccess;
}

uint32_t VolumeBitmapCopy::Read(Volume& volume) {
  std::size_t returned = 0;
  uint32_t code = volume.GetVolumeBitmap(0, block_.get(), size_, &returned);
  if (code != kErrorSuccess) return code;
  MarkPastTheEnd();
  return kErrorSuccess;
}

void VolumeBitmapCopy::MarkPastTheEnd() {
  uint8_t* bytes = block_.get() + kVolumeBitmapHeaderSize;
  const int64_t partial = whole_bytes();
  const int valid_bits = static_cast<int>(cluster_count_ % 8);
  bytes[partial] |= static_cast<uint8_t>(0xFF << valid_bits);
  std::memset(bytes + partial + 1, 0xFF, kSpareBytes - 1);
}

}  // namespace shardix
