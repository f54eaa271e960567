#include <cstddef>
#include <cstring>

#include "volume/checked_math.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/image_handles.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/volume_bounds.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

// Number of elements before the terminator. The count is kept with the
// inode and checked cheaply, since mapping may grow the array in place.
size_t RunCount(OpenedInode& inode) {
  runlist_element* rl = inode.stream->rl;
  size_t n = inode.counted_runs;
  const bool still_valid = rl && rl == inode.counted_rl && rl[n].length == 0 &&
                           (n == 0 || rl[n - 1].length != 0);
  if (!still_valid) {
    n = 0;
    if (rl)
      while (rl[n].length) ++n;
    inode.counted_rl = rl;
    inode.counted_runs = n;
  }
  return n;
}

runlist_element* SearchMapped(OpenedInode& inode, VCN vcn) {
  runlist_element* rl = inode.stream->rl;
  const size_t n = RunCount(inode);
  if (!rl || n == 0) return nullptr;
  // The last run starting at or before vcn.
  size_t low = 0, high = n;
  while (high - low > 1) {
    const size_t mid = low + (high - low) / 2;
    if (rl[mid].vcn <= vcn) low = mid; else high = mid;
  }
  runlist_element* run = &rl[low];
  if (run->vcn > vcn || vcn >= run->vcn + run->length || run->lcn == LCN_RL_NOT_MAPPED)
    return nullptr;
  return run;
}

// A run read from the image that can be reported: a hole, or clusters on the
// volume, with a length whose end VCN does not overflow.
bool RunIsSound(const ntfs_volume* vol, const runlist_element* run) {
  VCN end = 0;
  if (run->length <= 0 || !CheckedAdd(run->vcn, run->length, &end)) return false;
  return run->lcn == LCN_HOLE || RunWithinVolume(vol, run->lcn, run->length);
}

}  // namespace

runlist_element* FindRun(OpenedInode& inode, VCN vcn) {
  if (runlist_element* run = SearchMapped(inode, vcn)) return run;
  errno = 0;
  runlist_element* run = ntfs_attr_find_vcn(inode.stream, vcn);
  inode.counted_rl = nullptr;  // mapping may have moved or grown the array
  if (run && run->lcn == LCN_RL_NOT_MAPPED) {
    errno = EIO;
    return nullptr;
  }
  return run;
}

FileKind ImageFile::Kind() {
  std::lock_guard<std::mutex> hold(inode_->mount->lock());
  if (inode_->directory) return FileKind::kFolder;
  if (system_ || inode_->ni->mft_no < FILE_first_user) return FileKind::kSystem;
  ntfs_attr* stream = inode_->stream;
  if (stream && (NAttrCompressed(stream) || NAttrEncrypted(stream))) return FileKind::kCompressed;
  if ((stream && NAttrSparse(stream)) || (inode_->ni->flags & FILE_ATTR_SPARSE_FILE))
    return FileKind::kSparse;
  return FileKind::kOrdinary;
}

uint32_t ImageFile::GetSize(uint64_t* size) {
  if (!size) return kErrorInvalidParameter;
  std::lock_guard<std::mutex> hold(inode_->mount->lock());
  // A directory's size is 0, as Windows reports it.
  *size = inode_->directory || !inode_->stream ? 0 : static_cast<uint64_t>(inode_->stream->data_size);
  return kErrorSuccess;
}

uint32_t ImageFile::GetRetrievalPointers(int64_t starting_vcn, void* out, std::size_t out_size,
                                         std::size_t* bytes_returned) {
  if (bytes_returned) *bytes_returned = 0;
  if (!out || starting_vcn < 0) return kErrorInvalidParameter;
  if (out_size < sizeof(RetrievalPointersBuffer)) return kErrorInsufficientBuffer;

  std::lock_guard<std::mutex> hold(inode_->mount->lock());
  ntfs_attr* stream = inode_->stream;
  if (!stream || !NAttrNonResident(stream)) return kErrorHandleEof;  // held in the record
  const VCN end_vcn = stream->allocated_size >> stream->ni->vol->cluster_size_bits;
  if (starting_vcn >= end_vcn) return kErrorHandleEof;

  runlist_element* run = FindRun(*inode_, starting_vcn);
  if (!run) return errno == ENOENT ? kErrorFileCorrupt : CodeFromErrno(errno);
  // Neighbouring holes read as one; step back over those already mapped.
  if (run->lcn == LCN_HOLE) {
    runlist_element* first = stream->rl;
    while (run > first && run[-1].lcn == LCN_HOLE && run[-1].vcn + run[-1].length == run->vcn)
      --run;
  }

  const std::size_t room = (out_size - kRetrievalPointersHeaderSize) / sizeof(RetrievalExtent);
  auto* header = static_cast<uint8_t*>(out);
  const int64_t first_vcn = run->vcn;
  uint32_t written = 0;
  VCN vcn = run->vcn;
  uint32_t result = kErrorSuccess;
  for (;;) {
    run = FindRun(*inode_, vcn);
    if (!run) return errno == ENOENT ? kErrorFileCorrupt : CodeFromErrno(errno);
    if (!RunIsSound(stream->ni->vol, run)) return kErrorFileCorrupt;
    RetrievalExtent extent{run->vcn + run->length, run->lcn < 0 ? -1 : run->lcn};
    if (run->lcn == LCN_HOLE) {
      while (extent.next_vcn < end_vcn) {
        runlist_element* next = FindRun(*inode_, extent.next_vcn);
        if (!next) return errno == ENOENT ? kErrorFileCorrupt : CodeFromErrno(errno);
        if (!RunIsSound(stream->ni->vol, next)) return kErrorFileCorrupt;
        if (next->lcn != LCN_HOLE) break;
        extent.next_vcn = next->vcn + next->length;
      }
    }
    std::memcpy(header + kRetrievalPointersHeaderSize + written * sizeof(RetrievalExtent), &extent,
                sizeof extent);
    ++written;
    vcn = extent.next_vcn;
    if (vcn >= end_vcn) break;
    if (written == room) {
      result = kErrorMoreData;
      break;
    }
  }
  std::memset(header, 0, kRetrievalPointersHeaderSize);
  std::memcpy(header + offsetof(RetrievalPointersBuffer, extent_count), &written, sizeof written);
  std::memcpy(header + offsetof(RetrievalPointersBuffer, starting_vcn), &first_vcn,
              sizeof first_vcn);
  if (bytes_returned)
    *bytes_returned = kRetrievalPointersHeaderSize + written * sizeof(RetrievalExtent);
  return result;
}

}  // namespace shardix::ntfsimage
