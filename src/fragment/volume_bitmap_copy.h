// The planner's copy of the volume bitmap: sized once from a header probe,
// then read whole from cluster 0 for each fragment and after each refused
// move.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "volume/volume.h"

namespace shardix {

class VolumeBitmapCopy {
 public:
  // The header probe: a 24-byte request whose ERROR_MORE_DATA still
  // delivers the bitmap size. Returns 0 (also when a tiny volume fits in
  // the probe), or the request's error code; ERROR_INVALID_DATA for a
  // header that gives a negative size.
  uint32_t Probe(Volume& volume);

  // One block of 24 + L + 1 bytes, zeroed, for the whole bitmap and 9 bytes
  // to spare past its whole bytes. ERROR_NOT_ENOUGH_MEMORY when it cannot
  // be had (or its size does not even fit in memory's address range).
  uint32_t Allocate();

  // Reads the whole bitmap into the block; any error code is a failure.
  // Clusters at or past the volume's end are then marked in use, so no run
  // that reaches past the last cluster ever looks free.
  uint32_t Read(Volume& volume);

  // Bit j of byte n stands for cluster 8n + j; readable to byte L + 8.
  const uint8_t* bits() const { return block_.get() + kVolumeBitmapHeaderSize; }
  int64_t whole_bytes() const { return cluster_count_ / 8; }  // L
  int64_t cluster_count() const { return cluster_count_; }

 private:
  static constexpr std::size_t kSpareBytes = 9;  // the partial byte and room for 32-bit tests

  void MarkPastTheEnd();

  std::unique_ptr<uint8_t[]> block_;
  std::size_t size_ = 0;
  int64_t cluster_count_ = 0;
};

}  // namespace shardix
