// The simulated volume's answers to the three control operations, with the
// Windows codes' observable behaviour.
#include <algorithm>
#include <cstring>

#include "volume/error_codes.h"
#include "volume/memory/memory_volume.h"

namespace shardix {

uint32_t MemoryVolume::GetSize(uint64_t file_id, uint64_t* size) {
  std::lock_guard<std::mutex> hold(mutex_);
  uint32_t code;
  if (TakeFault(MemoryOperation::kGetSize, &code)) return code;
  File* file = FindFile(file_id);
  if (!file) return kErrorInvalidHandle;
  *size = file->size;
  return kErrorSuccess;
}

uint32_t MemoryVolume::GetRetrievalPointers(uint64_t file_id, int64_t starting_vcn, void* out,
                                            std::size_t out_size, std::size_t* bytes_returned) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (bytes_returned) *bytes_returned = 0;
  uint32_t code;
  if (TakeFault(MemoryOperation::kGetRetrievalPointers, &code)) return code;
  File* file = FindFile(file_id);
  if (!file) return kErrorInvalidHandle;
  if (file->kind == FileKind::kDirectory) return kErrorInvalidParameter;
  if (out_size < sizeof(RetrievalPointersBuffer)) return kErrorInsufficientBuffer;
  if (starting_vcn < 0) return kErrorInvalidParameter;
  const std::vector<MemoryRun>& runs = file->runs;
  if (runs.empty() || starting_vcn >= runs.back().vcn + runs.back().length)
    return kErrorHandleEof;

  // The run that holds starting_vcn.
  auto run = std::upper_bound(runs.begin(), runs.end(), starting_vcn,
                              [](int64_t vcn, const MemoryRun& r) { return vcn < r.vcn; });
  --run;
  std::size_t room = (out_size - kRetrievalPointersHeaderSize) / sizeof(RetrievalExtent);
  std::size_t count = std::min<std::size_t>(room, runs.end() - run);

  auto* header = static_cast<uint8_t*>(out);
  uint32_t extent_count = static_cast<uint32_t>(count);
  int64_t first_vcn = run->vcn;
  std::memcpy(header + offsetof(RetrievalPointersBuffer, extent_count), &extent_count, 4);
  std::memcpy(header + offsetof(RetrievalPointersBuffer, starting_vcn), &first_vcn, 8);
  for (std::size_t i = 0; i < count; ++i, ++run) {
    RetrievalExtent extent{run->vcn + run->length, run->lcn};
    std::memcpy(header + kRetrievalPointersHeaderSize + i * sizeof extent, &extent, sizeof extent);
  }
  if (bytes_returned) *bytes_returned = kRetrievalPointersHeaderSize + count * sizeof(RetrievalExtent);
  return run == runs.end() ? kErrorSuccess : kErrorMoreData;
}

uint32_t MemoryVolume::GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                                       std::size_t* bytes_returned) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (bytes_returned) *bytes_returned = 0;
  uint32_t code;
  if (TakeFault(MemoryOperation::kGetVolumeBitmap, &code)) return code;
  if (out_size < sizeof(VolumeBitmapBuffer)) return kErrorInsufficientBuffer;
  if (starting_lcn < 0 || static_cast<uint64_t>(starting_lcn) >= options_.cluster_count)
    return kErrorInvalidParameter;

  uint64_t start = static_cast<uint64_t>(starting_lcn) & ~uint64_t{7};
  int64_t header[2] = {static_cast<int64_t>(start),
                       static_cast<int64_t>(options_.cluster_count - start)};
  auto* bytes = static_cast<uint8_t*>(out);
  std::memcpy(bytes, header, sizeof header);

  uint64_t needed = (options_.cluster_count - start + 7) / 8;
  uint64_t room = out_size - kVolumeBitmapHeaderSize;
  uint64_t copied = std::min(needed, room);
  // Bits past the last cluster are kept clear in bitmap_, so a plain copy
  // of the little-endian words gives them as zero.
  std::memcpy(bytes + kVolumeBitmapHeaderSize,
              reinterpret_cast<const uint8_t*>(bitmap_.data()) + start / 8, copied);
  if (bytes_returned) *bytes_returned = kVolumeBitmapHeaderSize + copied;
  return copied < needed ? kErrorMoreData : kErrorSuccess;
}

uint32_t MemoryVolume::MoveClusters(uint64_t file_id, int64_t starting_vcn, int64_t target_lcn,
                                uint32_t cluster_count) {
  std::lock_guard<std::mutex> hold(mutex_);
  uint32_t code;
  if (TakeFault(MemoryOperation::kMoveFile, &code)) return code;
  File* file = FindFile(file_id);
  if (!file) return kErrorInvalidHandle;
  if (file->kind != FileKind::kNormal) return kErrorAccessDenied;
  int64_t count = cluster_count;
  if (count == 0 || starting_vcn < 0 || target_lcn < 0 ||
      static_cast<uint64_t>(target_lcn) + count > options_.cluster_count)
    return kErrorInvalidParameter;
  std::vector<MemoryRun>& runs = file->runs;
  int64_t allocated = runs.empty() ? 0 : runs.back().vcn + runs.back().length;
  if (starting_vcn + count > allocated) return kErrorInvalidParameter;
  for (const MemoryRun& run : runs)
    if (run.lcn == -1 && run.vcn < starting_vcn + count && run.vcn + run.length > starting_vcn)
      return kErrorInvalidParameter;
  if (AnyUsed(target_lcn, count) || OverlapsPendingFree(target_lcn, count))
    return kErrorAccessDenied;

  // Copy and re-home each source piece; the old clusters wait for the next
  // checkpoint before they can take data again.
  std::vector<MemoryRun> result;
  std::vector<bool> moved;  // parallel to result
  int64_t end_vcn = starting_vcn + count;
  for (const MemoryRun& run : runs) {
    int64_t run_end = run.vcn + run.length;
    if (run_end <= starting_vcn || run.vcn >= end_vcn) {
      result.push_back(run);
      moved.push_back(false);
      continue;
    }
    if (run.vcn < starting_vcn) {
      result.push_back({run.vcn, starting_vcn - run.vcn, run.lcn});
      moved.push_back(false);
    }
    int64_t piece_vcn = std::max(run.vcn, starting_vcn);
    int64_t piece_end = std::min(run_end, end_vcn);
    int64_t from = run.lcn + (piece_vcn - run.vcn);
    int64_t to = target_lcn + (piece_vcn - starting_vcn);
    int64_t length = piece_end - piece_vcn;
    SetBits(to, length, true);
    if (options_.track_data)
      std::copy(content_.begin() + from, content_.begin() + from + length, content_.begin() + to);
    SetBits(from, length, false);
    pending_free_[from] = length;
    result.push_back({piece_vcn, length, to});
    moved.push_back(true);
    if (run_end > end_vcn) {
      result.push_back({end_vcn, run_end - end_vcn, run.lcn + (end_vcn - run.vcn)});
      moved.push_back(false);
    }
  }
  // A moved piece that now follows its neighbour on the volume joins it, as
  // the file system's runlist would; runs the move did not touch stay as
  // they were.
  std::vector<MemoryRun> merged;
  bool last_moved = false;
  for (std::size_t i = 0; i < result.size(); ++i) {
    const MemoryRun& run = result[i];
    if (!merged.empty() && (last_moved || moved[i]) && merged.back().lcn != -1 && run.lcn != -1 &&
        merged.back().lcn + merged.back().length == run.lcn) {
      merged.back().length += run.length;
      last_moved = true;
    } else {
      merged.push_back(run);
      last_moved = moved[i];
    }
  }
  runs = std::move(merged);

  ++moves_;
  if (options_.checkpoint_every_moves && moves_ - moves_at_checkpoint_ >= options_.checkpoint_every_moves) {
    pending_free_.clear();
    moves_at_checkpoint_ = moves_;
  }
  return kErrorSuccess;
}

uint32_t MemoryVolume::GetGeometry(VolumeGeometry* geometry) {
  std::lock_guard<std::mutex> hold(mutex_);
  uint32_t code;
  if (TakeFault(MemoryOperation::kGetGeometry, &code)) return code;
  geometry->sectors_per_cluster = options_.sectors_per_cluster;
  geometry->bytes_per_sector = options_.bytes_per_sector;
  geometry->total_clusters = options_.cluster_count;
  geometry->free_clusters = options_.cluster_count - used_clusters_;
  return kErrorSuccess;
}

}  // namespace shardix
