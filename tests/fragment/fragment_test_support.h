// Helpers for the planner's tests: seeds that make the generator draw
// chosen values, a volume wrapper that records the move requests, and a
// synthetic volume far larger than the simulated one can hold.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fragment/random.h"
#include "volume/error_codes.h"
#include "volume/volume.h"

namespace shardix::test {

// A seed whose first draws are `draws` (at most two can be chosen freely;
// for two there are a few seeds, and the search finds one); false if none.
inline bool FindSeedForDraws(const std::vector<uint32_t>& draws, uint32_t* seed) {
  // The generator's multiplier is odd, so one step can be undone.
  uint32_t inverse = 214013u;
  for (int i = 0; i < 5; ++i) inverse *= 2u - 214013u * inverse;
  for (uint32_t high = 0; high < 2; ++high) {
    for (uint32_t low = 0; low < 0x10000; ++low) {
      const uint32_t first_state = high << 31 | draws.at(0) << 16 | low;
      const uint32_t candidate = (first_state - 2531011u) * inverse;
      ShardixRandom random(candidate);
      bool all = true;
      for (uint32_t want : draws)
        if (random.Next() != want) {
          all = false;
          break;
        }
      if (all) {
        *seed = candidate;
        return true;
      }
    }
  }
  return false;
}

struct MoveRequest {
  int64_t vcn;
  int64_t lcn;
  uint32_t count;
  uint32_t result;
};

// Passes every call on to `inner` and keeps the move requests.
class RecordingVolume : public Volume {
 public:
  explicit RecordingVolume(Volume* inner) : inner_(inner) {}
  uint32_t GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                           std::size_t* bytes_returned) override {
    ++bitmap_reads;
    return inner_->GetVolumeBitmap(starting_lcn, out, out_size, bytes_returned);
  }
  uint32_t MoveClusters(VolumeFile& file, int64_t vcn, int64_t lcn, uint32_t count) override {
    uint32_t result = inner_->MoveClusters(file, vcn, lcn, count);
    moves.push_back({vcn, lcn, count, result});
    return result;
  }
  uint32_t GetGeometry(VolumeGeometry* geometry) override { return inner_->GetGeometry(geometry); }
  std::string DisplayName() const override { return inner_->DisplayName(); }
  // Refuses the job with `refusal` when set.
  uint32_t PrepareToMove(std::string* text) override {
    if (refusal.empty()) return kErrorSuccess;
    *text = refusal;
    return kErrorWriteProtect;
  }
  uint32_t Close() override {
    if (committed_on_close >= 0) committed = committed_on_close;
    return close_error;
  }
  int64_t CommittedMoves() const override { return committed; }

  std::vector<MoveRequest> SucceededMoves() const {
    std::vector<MoveRequest> out;
    for (const MoveRequest& move : moves)
      if (move.result == kErrorSuccess) out.push_back(move);
    return out;
  }

  std::vector<MoveRequest> moves;
  int bitmap_reads = 0;
  std::string refusal;
  uint32_t close_error = 0;  // what Close returns
  int64_t committed = -1;    // what CommittedMoves returns
  int64_t committed_on_close = -1;  // and from Close on, when set

 private:
  Volume* inner_;
};

// A volume of any size whose bitmap is free but for `used` clusters, built
// straight into the caller's buffer; every move succeeds and is recorded.
class SyntheticVolume : public Volume {
 public:
  explicit SyntheticVolume(int64_t cluster_count) : cluster_count_(cluster_count) {}
  uint32_t GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                           std::size_t* bytes_returned) override {
    auto* bytes = static_cast<uint8_t*>(out);
    const int64_t start = starting_lcn & ~int64_t{7};
    const int64_t clusters = cluster_count_ - start;
    std::memset(bytes, 0, out_size);
    std::memcpy(bytes, &start, 8);
    std::memcpy(bytes + 8, &clusters, 8);
    const uint64_t needed = (static_cast<uint64_t>(clusters) + 7) / 8;
    const uint64_t room = out_size - kVolumeBitmapHeaderSize;
    for (int64_t lcn : used)
      if (lcn >= start && static_cast<uint64_t>((lcn - start) / 8) < room)
        bytes[kVolumeBitmapHeaderSize + (lcn - start) / 8] |= static_cast<uint8_t>(1u << (lcn % 8));
    bytes_requested += room;
    if (bytes_returned) *bytes_returned = out_size;
    return room < needed ? kErrorMoreData : kErrorSuccess;
  }
  uint32_t MoveClusters(VolumeFile&, int64_t vcn, int64_t lcn, uint32_t count) override {
    moves.push_back({vcn, lcn, count, kErrorSuccess});
    return kErrorSuccess;
  }
  uint32_t GetGeometry(VolumeGeometry*) override { return kErrorNotSupported; }
  std::string DisplayName() const override { return "synthetic"; }

  std::set<int64_t> used;
  std::vector<MoveRequest> moves;
  uint64_t bytes_requested = 0;  // bitmap bytes asked for, over all reads

 private:
  int64_t cluster_count_;
};

// A file handle the synthetic volume never asks anything of.
class NoFile : public VolumeFile {
 public:
  uint32_t GetSize(uint64_t*) override { return kErrorNotSupported; }
  uint32_t GetRetrievalPointers(int64_t, void*, std::size_t, std::size_t*) override {
    return kErrorNotSupported;
  }
};

}  // namespace shardix::test
