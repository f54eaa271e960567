// A volume that serves a bitmap the test lays out byte by byte (bits past
// the last cluster included), or a used prefix of any size without holding
// it, and records the moves asked of it.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "volume/error_codes.h"
#include "volume/volume.h"

namespace shardix::test {

struct RecordedMove {
  int64_t vcn;
  int64_t lcn;
  uint32_t count;
};

class BitmapVolume : public Volume {
 public:
  // `bytes` as the file system would return them for `cluster_count` clusters.
  BitmapVolume(uint64_t cluster_count, std::vector<uint8_t> bytes)
      : cluster_count_(cluster_count), bytes_(std::move(bytes)) {
    bytes_.resize(std::max<std::size_t>(bytes_.size(), (cluster_count + 7) / 8));
  }
  // Clusters [0, used_prefix) in use, the rest free.
  static BitmapVolume UsedPrefix(uint64_t cluster_count, uint64_t used_prefix) {
    BitmapVolume volume(0, {});
    volume.cluster_count_ = cluster_count;
    volume.used_prefix_ = used_prefix;
    return volume;
  }
  // From a string of '1' (in use) and '0' (free), cluster 0 first.
  static BitmapVolume FromBits(const std::string& bits) {
    std::vector<uint8_t> bytes((bits.size() + 7) / 8);
    for (std::size_t i = 0; i < bits.size(); ++i)
      if (bits[i] == '1') bytes[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    return BitmapVolume(bits.size(), bytes);
  }

  uint32_t GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                           std::size_t* bytes_returned) override {
    ++bitmap_reads;
    if (bytes_returned) *bytes_returned = 0;
    if (!bitmap_errors.empty()) {
      uint32_t code = bitmap_errors.front();
      bitmap_errors.erase(bitmap_errors.begin());
      if (code != kErrorSuccess) return code;
    }
    if (out_size < sizeof(VolumeBitmapBuffer)) return kErrorInsufficientBuffer;
    if (starting_lcn < 0 || static_cast<uint64_t>(starting_lcn) >= std::max<uint64_t>(cluster_count_, 1))
      return kErrorInvalidParameter;
    const uint64_t start = static_cast<uint64_t>(starting_lcn) & ~uint64_t{7};
    int64_t header[2] = {static_cast<int64_t>(start),
                         header_size.value_or(static_cast<int64_t>(cluster_count_)) -
                             static_cast<int64_t>(start)};
    auto* dest = static_cast<uint8_t*>(out);
    std::memcpy(dest, header, sizeof header);
    uint64_t needed = (cluster_count_ - start + 7) / 8;
    uint64_t copied = std::min<uint64_t>(needed, out_size - kVolumeBitmapHeaderSize);
    uint8_t* bits = dest + kVolumeBitmapHeaderSize;
    if (used_prefix_) {
      const uint64_t full = std::min(copied, used_prefix_ / 8 > start / 8 ? used_prefix_ / 8 - start / 8 : 0);
      std::memset(bits, 0xFF, full);
      std::memset(bits + full, 0, copied - full);
      if (full < copied && used_prefix_ / 8 >= start / 8)
        bits[full] = static_cast<uint8_t>((1u << (used_prefix_ % 8)) - 1);
    } else {
      std::memcpy(bits, bytes_.data() + start / 8, copied);
    }
    if (bytes_returned) *bytes_returned = kVolumeBitmapHeaderSize + copied;
    return copied < needed ? kErrorMoreData : kErrorSuccess;
  }

  uint32_t MoveClusters(VolumeFile&, int64_t starting_vcn, int64_t target_lcn,
                    uint32_t cluster_count) override {
    moves.push_back({starting_vcn, target_lcn, cluster_count});
    return kErrorSuccess;
  }

  uint32_t GetGeometry(VolumeGeometry* geometry) override {
    if (geometry_error) return geometry_error;
    geometry->sectors_per_cluster = sectors_per_cluster;
    geometry->bytes_per_sector = bytes_per_sector;
    geometry->total_clusters = cluster_count_;
    return kErrorSuccess;
  }

  std::string DisplayName() const override { return "bitmap.img"; }

  uint32_t sectors_per_cluster = 8;
  uint32_t bytes_per_sector = 512;
  uint32_t geometry_error = 0;
  std::vector<uint32_t> bitmap_errors;  // codes for the next reads, 0 for a normal read
  std::optional<int64_t> header_size;   // a bitmap size other than the cluster count
  int bitmap_reads = 0;
  std::vector<RecordedMove> moves;

 private:
  uint64_t cluster_count_;
  uint64_t used_prefix_ = 0;
  std::vector<uint8_t> bytes_;
};

// A file handle for volumes that never look at it.
class NullFile : public VolumeFile {
 public:
  uint32_t GetSize(uint64_t* size) override {
    *size = 0;
    return kErrorSuccess;
  }
  uint32_t GetRetrievalPointers(int64_t, void*, std::size_t, std::size_t*) override {
    return kErrorHandleEof;
  }
};

}  // namespace shardix::test
