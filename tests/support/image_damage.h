// Reading and damaging an NTFS image's own structures in its bytes, for the
// damaged-image tests and the fuzz driver: the boot sector's fields, file
// records and their attributes, runlists and $Bitmap. Works on the image as
// a byte array; every access is bounded by it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace shardix::test {

class ImageBytes {
 public:
  explicit ImageBytes(std::vector<uint8_t> bytes);
  bool ok() const { return ok_; }  // an NTFS boot sector was found
  std::vector<uint8_t>& bytes() { return bytes_; }

  uint32_t cluster_size() const { return cluster_size_; }
  uint32_t record_size() const { return record_size_; }
  uint64_t mft_offset() const { return mft_offset_; }
  uint64_t mirror_offset() const { return mirror_offset_; }
  // Byte offset of file record `number` (in $MFT's first run, where the
  // records of a fresh image lie), or 0 when past the image.
  uint64_t RecordOffset(uint64_t number) const;
  // Byte offset of the attribute of `type` in the record at `record`, or 0.
  uint64_t FindAttribute(uint64_t record, uint32_t type) const;
  // The attribute offsets of the record at `record`, in order.
  std::vector<uint64_t> Attributes(uint64_t record) const;
  // Byte offset of $Bitmap's first cluster (from record 6), or 0.
  uint64_t BitmapOffset() const;
  // Byte offset of the first file's record (from record 16 on) holding an
  // $ATTRIBUTE_LIST, or 0; and the byte offsets of that list's entries
  // (within its first run when it is not resident).
  uint64_t ListedFileRecord() const;
  std::vector<uint64_t> ListEntries(uint64_t record) const;
  // Byte offset of the backup boot sector: the sector after the last one
  // the volume counts.
  uint64_t BackupBootOffset() const { return Get(0x28, 8) * Get(0x0b, 2); }

  uint64_t Get(uint64_t offset, int width) const;
  void Put(uint64_t offset, int width, uint64_t value);

 private:
  std::vector<uint8_t> bytes_;
  bool ok_ = false;
  uint32_t cluster_size_ = 0;
  uint32_t record_size_ = 0;
  uint64_t mft_offset_ = 0;
  uint64_t mirror_offset_ = 0;
};

// Structure-aware damage chosen by `seed`. kMixed: a boot-sector field, a
// file record's header or attribute fields, a runlist, $Bitmap, or random
// bytes in one of those. kAttributeList: a field of one entry of the first
// file's attribute list (its length most often). kBackupBoot: a byte of the
// backup boot sector. Returns what was done, for reproducing a failure.
enum class DamageKind { kMixed, kAttributeList, kBackupBoot };
std::string DamageImage(ImageBytes& image, uint64_t seed, DamageKind kind = DamageKind::kMixed);

}  // namespace shardix::test
