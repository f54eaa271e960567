#include <cctype>
#include <cstring>

#include "volume/error_codes.h"
#include "volume/ntfsimage/cluster_move.h"
#include "volume/ntfsimage/free_space.h"
#include "volume/ntfsimage/image_handles.h"
#include "volume/ntfsimage/image_in_use.h"
#include "volume/ntfsimage/journal/journal_device.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_image.h"
#include "volume/ntfsimage/write_preflight.h"
#include "volume/ntfsimage/ntfs_headers.h"
#include "volume/system_error.h"

namespace shardix {

uint32_t OpenImageFile(const std::string& image, const std::string& inner_path,
                       std::unique_ptr<VolumeFile>* out) {
  if (!out) return kErrorInvalidParameter;
  out->reset();
  std::shared_ptr<ntfsimage::ImageMount> mount;
  uint32_t result = ntfsimage::AcquireMount(image, &mount);
  if (result != kErrorSuccess) return result;
  std::shared_ptr<ntfsimage::OpenedInode> inode;
  result = mount->OpenInode(inner_path, &inode);
  if (result != kErrorSuccess) return result;
  // $Extend holds the volume's own files under names of their own.
  std::string lower = inner_path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool system = lower.rfind("/$extend/", 0) == 0;
  *out = std::make_unique<ntfsimage::ImageFile>(std::move(inode), system);
  return kErrorSuccess;
}

uint32_t OpenImageVolume(const std::string& image, std::unique_ptr<Volume>* out) {
  if (!out) return kErrorInvalidParameter;
  out->reset();
  std::shared_ptr<ntfsimage::ImageMount> mount;
  const uint32_t result = ntfsimage::AcquireMount(image, &mount);
  if (result != kErrorSuccess) return result;
  *out = std::make_unique<ntfsimage::ImageVolume>(std::move(mount));
  return kErrorSuccess;
}

void OpenImagesForReadingOnly() { ntfsimage::OpenImagesOnlyForReading(); }

std::string ImageLibraryDetail() { return ntfsimage::LastLibraryMessage(); }

std::string ImageInUseElsewhere(const std::string& image) {
  std::string canonical;
  if (!ntfsimage::CanonicalImagePath(image, &canonical)) return "";
  return ntfsimage::InUseElsewhere(canonical);
}

namespace ntfsimage {

uint32_t ImageVolume::GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                                      std::size_t* bytes_returned) {
  if (bytes_returned) *bytes_returned = 0;
  if (!out) return kErrorInvalidParameter;
  if (out_size < sizeof(VolumeBitmapBuffer)) return kErrorInsufficientBuffer;

  std::lock_guard<std::mutex> hold(mount_->lock());
  ntfs_volume* vol = mount_->volume();
  const int64_t clusters = vol->nr_clusters;
  if (starting_lcn < 0 || starting_lcn >= clusters) return kErrorInvalidParameter;

  const int64_t start = starting_lcn & ~int64_t{7};  // whole bytes, as Windows does
  const int64_t bits = clusters - start;
  const int64_t needed = (bits + 7) / 8;
  const int64_t room = static_cast<int64_t>(out_size - kVolumeBitmapHeaderSize);
  const int64_t count = std::min(needed, room);

  auto* bytes = static_cast<uint8_t*>(out);
  errno = 0;
  const s64 got = ntfs_attr_pread(vol->lcnbmp_na, start / 8, count, bytes + kVolumeBitmapHeaderSize);
  if (got != count) return got < 0 ? CodeFromErrno(errno) : kErrorReadFault;
  // The bitmap's last byte may hold set bits past the last cluster.
  if (count == needed && bits % 8)
    bytes[kVolumeBitmapHeaderSize + count - 1] &= static_cast<uint8_t>((1u << (bits % 8)) - 1);

  std::memcpy(bytes + offsetof(VolumeBitmapBuffer, starting_lcn), &start, sizeof start);
  std::memcpy(bytes + offsetof(VolumeBitmapBuffer, bitmap_size), &bits, sizeof bits);
  if (bytes_returned) *bytes_returned = kVolumeBitmapHeaderSize + static_cast<std::size_t>(count);
  return count < needed ? kErrorMoreData : kErrorSuccess;
}

uint32_t ImageVolume::MoveClusters(VolumeFile& file, int64_t starting_vcn, int64_t target_lcn,
                               uint32_t cluster_count) {
  auto* image_file = dynamic_cast<ImageFile*>(&file);
  // A handle from another volume or backend is no file of this volume.
  if (!image_file || image_file->mount() != mount_.get()) return kErrorInvalidParameter;
  std::lock_guard<std::mutex> hold(mount_->lock());
  return MoveImageClusters(*mount_, image_file->inode(), starting_vcn, target_lcn, cluster_count);
}

uint32_t ImageVolume::GetGeometry(VolumeGeometry* geometry) {
  if (!geometry) return kErrorInvalidParameter;
  std::lock_guard<std::mutex> hold(mount_->lock());
  ntfs_volume* vol = mount_->volume();
  // Counted from the bitmap as it is now, the first time it is needed.
  if (!NVolFreeSpaceKnown(vol) && CountFreeSpace(vol) != 0) return CodeFromErrno(errno);
  geometry->bytes_per_sector = vol->sector_size;
  geometry->sectors_per_cluster = vol->cluster_size / vol->sector_size;
  geometry->free_clusters = static_cast<uint64_t>(std::max<s64>(vol->free_clusters, 0));
  geometry->total_clusters = static_cast<uint64_t>(vol->nr_clusters);
  return kErrorSuccess;
}

uint32_t ImageVolume::GetClusterSize(uint32_t* sectors_per_cluster, uint32_t* bytes_per_sector) {
  if (!sectors_per_cluster || !bytes_per_sector) return kErrorInvalidParameter;
  std::lock_guard<std::mutex> hold(mount_->lock());
  ntfs_volume* vol = mount_->volume();
  *bytes_per_sector = vol->sector_size;
  *sectors_per_cluster = vol->cluster_size / vol->sector_size;
  return kErrorSuccess;
}

uint32_t ImageVolume::PrepareToMove(std::string* refusal) {
  std::lock_guard<std::mutex> hold(mount_->lock());
  if (const uint32_t code = CheckMovesCanBeKept(*mount_, refusal)) return code;
  // A volume that check would not call clean is refused now, saying what
  // is wrong, rather than at the first move with only an error code.
  if (const uint32_t code = mount_->move_guard().Ready(mount_->volume())) {
    const std::string image = mount_->image_path();
    std::string words = SystemErrorFor(code).message();
    while (!words.empty() && (words.back() == '.' || words.back() == ' ')) words.pop_back();
    if (code == kErrorDiskCorrupt && !LastLibraryMessage().empty()) words += ": " + LastLibraryMessage();
    *refusal = words + " (" + image + "); nothing was moved: run shardix check " + image +
               " for the details";
    return code;
  }
  return kErrorSuccess;
}

uint32_t ImageVolume::Close() {
  std::lock_guard<std::mutex> hold(mount_->lock());
  if (mount_->read_only()) return kErrorSuccess;
  uint32_t code = mount_->TakeWriteFailure();
  if (code == kErrorSuccess) code = CommitVolume(mount_->volume());
  // Whatever is still held would otherwise reach the image at the unmount,
  // after the caller was told it had not.
  if (code != kErrorSuccess) mount_->journal().GiveUp();
  return code;
}

int64_t ImageVolume::CommittedMoves() const {
  std::lock_guard<std::mutex> hold(mount_->lock());
  return static_cast<int64_t>(mount_->journal().committed_moves());
}

}  // namespace ntfsimage
}  // namespace shardix
