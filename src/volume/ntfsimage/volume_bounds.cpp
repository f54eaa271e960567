#include "volume/ntfsimage/volume_bounds.h"

#include "volume/error_codes.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

bool SizesFit(const ntfs_attr* na, s64 device_bytes) {
  return na && na->allocated_size >= 0 && na->data_size >= 0 && na->initialized_size >= 0 &&
         na->allocated_size <= device_bytes && na->data_size <= device_bytes &&
         na->initialized_size <= device_bytes;
}

// Why the mounted volume cannot be trusted, or "" when its geometry holds.
std::string GeometryProblem(ntfs_volume* vol) {
  errno = 0;
  const s64 device_bytes = ntfs_device_size_get(vol->dev, 1);
  if (device_bytes <= 0) return "the device's size cannot be read";
  if (vol->cluster_size == 0 || vol->nr_clusters <= 0) return "the volume has no clusters";
  if (vol->nr_clusters > device_bytes / vol->cluster_size)
    return "the boot sector claims " + std::to_string(vol->nr_clusters) +
           " clusters, more than the device holds";
  if (!SizesFit(vol->lcnbmp_na, device_bytes)) return "$Bitmap's sizes exceed the device";
  if (vol->lcnbmp_na->data_size < (vol->nr_clusters + 7) / 8 ||
      vol->lcnbmp_na->initialized_size < (vol->nr_clusters + 7) / 8)
    return "$Bitmap is shorter than the volume's cluster count";
  if (!SizesFit(vol->mft_na, device_bytes)) return "$MFT's sizes exceed the device";
  if (vol->mft_record_size == 0 || vol->mft_na->initialized_size > vol->mft_na->allocated_size)
    return "$MFT's sizes disagree";
  return "";
}

}  // namespace

uint32_t CheckVolumeGeometry(ntfs_volume* vol) {
  const std::string problem = GeometryProblem(vol);
  if (problem.empty()) return kErrorSuccess;
  SetLastLibraryMessage("The volume is damaged: " + problem);
  return kErrorDiskCorrupt;
}

s64 ReadableRecordCount(const ntfs_volume* vol) {
  const s64 bytes = std::min(vol->mft_na->initialized_size, vol->mft_na->allocated_size);
  return bytes > 0 ? bytes >> vol->mft_record_size_bits : 0;
}

bool RunWithinVolume(const ntfs_volume* vol, s64 lcn, s64 length) {
  return lcn >= 0 && length > 0 && lcn < vol->nr_clusters && length <= vol->nr_clusters - lcn;
}

AttributeWalk::AttributeWalk(const MFT_RECORD* record, uint32_t record_size)
    : record_(reinterpret_cast<const uint8_t*>(record)) {
  end_ = std::min<uint64_t>(le32_to_cpu(record->bytes_in_use), record_size);
  offset_ = le16_to_cpu(record->attrs_offset);
  if (le32_to_cpu(record->bytes_in_use) > record_size) {
    problem_ = "bytes in use exceed the record";
    done_ = true;
  } else if (const uint32_t usa = le16_to_cpu(record->usa_ofs),
             count = le16_to_cpu(record->usa_count);
             (usa & 1) || count == 0 || usa + 2u * count > offset_ ||
             count - 1 != record_size / NTFS_BLOCK_SIZE) {
    problem_ = "update sequence array out of range";
    done_ = true;
  } else if (offset_ < sizeof(MFT_RECORD) - 6 || (offset_ & 7)) {
    // Records of NTFS 1.x end their header 6 bytes earlier.
    problem_ = "the first attribute lies inside the header";
    done_ = true;
  }
}

const ATTR_RECORD* AttributeWalk::Next() {
  if (done_) return nullptr;
  if (offset_ + sizeof(u32) > end_) {
    problem_ = "attributes run past the record";
    done_ = true;
    return nullptr;
  }
  const auto* a = reinterpret_cast<const ATTR_RECORD*>(record_ + offset_);
  if (a->type == AT_END) {
    empty_ = first_;
    done_ = true;
    return nullptr;
  }
  first_ = false;
  const uint64_t length = le32_to_cpu(a->length);
  const uint64_t header = a->non_resident ? offsetof(ATTR_RECORD, compressed_size)
                                          : offsetof(ATTR_RECORD, resident_flags) + 1;
  if (offset_ + 16 > end_ || length < header || (length & 7) || offset_ + length > end_) {
    problem_ = "attribute of bad length";
    done_ = true;
    return nullptr;
  }
  const uint64_t name_end = uint64_t{le16_to_cpu(a->name_offset)} + 2u * a->name_length;
  if (a->name_length && name_end > length) {
    problem_ = "attribute name outside the attribute";
    done_ = true;
    return nullptr;
  }
  if (a->non_resident && le16_to_cpu(a->mapping_pairs_offset) >= length) {
    problem_ = "runlist outside the attribute";
    done_ = true;
    return nullptr;
  }
  offset_ += length;
  return a;
}

std::string AttributeNameText(const ATTR_RECORD* a) {
  if (!a->name_length) return "";
  const auto* name = reinterpret_cast<const ntfschar*>(reinterpret_cast<const u8*>(a) +
                                                       le16_to_cpu(a->name_offset));
  char* text = nullptr;
  if (ntfs_ucstombs(name, a->name_length, &text, 0) < 0 || !text) return "?";
  std::string result(text);
  free(text);
  return result;
}

}  // namespace shardix::ntfsimage
