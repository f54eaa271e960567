#include "fragment/bitmap_windows.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "volume/bitmap_words.h"
#include "volume/error_codes.h"

namespace shardix {

uint32_t BitmapWindows::Probe(Volume& volume) {
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

uint32_t BitmapWindows::ReadWindowAt(Volume& volume, int64_t byte) {
  const int64_t first = byte / kFirstWindowBytes * kFirstWindowBytes;
  // A scan that ran off the end of the last window goes on reading ahead.
  const bool follows = window_bytes_ > 0 && first == window_first_ + window_bytes_;
  const int64_t size = follows ? std::min(window_bytes_ * 2, kLargestWindowBytes)
                               : kFirstWindowBytes;
  const int64_t count = std::min(size, whole_bytes() - first);
  window_bytes_ = 0;
  try {
    // Never shorter than the buffer layout, whose last byte a tiny window
    // may not fill.
    block_.resize(std::max(sizeof(VolumeBitmapBuffer),
                           kVolumeBitmapHeaderSize + static_cast<std::size_t>(count)));
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  std::size_t returned = 0;
  const uint32_t code = volume.GetVolumeBitmap(first * 8, block_.data(), block_.size(), &returned);
  if (code != kErrorSuccess && code != kErrorMoreData) return code;
  int64_t starting_lcn;
  std::memcpy(&starting_lcn, block_.data() + offsetof(VolumeBitmapBuffer, starting_lcn),
              sizeof starting_lcn);
  if (starting_lcn != first * 8) return kErrorInvalidData;
  window_first_ = first;
  window_bytes_ = count;
  return kErrorSuccess;
}

uint32_t BitmapWindows::FindInUse(Volume& volume, int64_t from, int64_t end, int64_t* found) {
  while (from < end) {
    const int64_t byte = from / 8;
    if (window_bytes_ == 0 || byte < window_first_ || byte >= window_first_ + window_bytes_) {
      if (uint32_t code = ReadWindowAt(volume, byte); code != kErrorSuccess) return code;
    }
    // Within the window, counted from its first cluster.
    const int64_t base = window_first_ * 8;
    const int64_t stop = std::min(end, (window_first_ + window_bytes_) * 8);
    const uint64_t at = FindClusterInState(block_.data() + kVolumeBitmapHeaderSize,
                                           static_cast<uint64_t>(from - base),
                                           static_cast<uint64_t>(stop - base), true);
    if (static_cast<int64_t>(at) + base < stop) {
      *found = static_cast<int64_t>(at) + base;
      return kErrorSuccess;
    }
    from = stop;
  }
  *found = end;
  return kErrorSuccess;
}

}  // namespace shardix
