#include "volume/ntfsimage/journal/internal/volume_mark.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "volume/ntfsimage/journal/internal/journal_format.h"

namespace shardix::ntfsimage {

namespace {

template <typename T>
T Field(const uint8_t* at) {  // little-endian on disk, as on every host we build for
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// The offset within one MFT record of its $VOLUME_INFORMATION flags, after
// checking the record's header and fixups; -1 when there is none.
int64_t FlagsInRecord(std::vector<uint8_t> record) {
  const size_t size = record.size();
  if (std::memcmp(record.data(), "FILE", 4) != 0) return -1;
  const uint16_t usa_offset = Field<uint16_t>(&record[4]);
  const uint16_t usa_count = Field<uint16_t>(&record[6]);
  if (usa_count != size / kSectorBytes + 1 || usa_offset + 2u * usa_count > size) return -1;
  const uint16_t usn = Field<uint16_t>(&record[usa_offset]);
  for (uint16_t i = 1; i < usa_count; ++i) {
    uint8_t* tail = &record[i * kSectorBytes - 2];
    if (Field<uint16_t>(tail) != usn) return -1;  // a torn record
    std::memcpy(tail, &record[usa_offset + 2 * i], 2);
  }
  const uint64_t in_use = std::min<uint64_t>(Field<uint32_t>(&record[0x18]), size);
  for (uint64_t at = Field<uint16_t>(&record[0x14]); at + 16 <= in_use;) {
    const uint32_t type = Field<uint32_t>(&record[at]);
    const uint64_t length = Field<uint32_t>(&record[at + 4]);
    if (type == 0xFFFFFFFFu || length < 16 || at + length > in_use) return -1;
    if (type == 0x70 && record[at + 8] == 0 && length >= 0x18) {  // resident $VOLUME_INFORMATION
      const uint32_t value_length = Field<uint32_t>(&record[at + 0x10]);
      const uint16_t value_offset = Field<uint16_t>(&record[at + 0x14]);
      if (value_length < 12 || uint64_t{value_offset} + value_length > length) return -1;
      return static_cast<int64_t>(at + value_offset + 10);
    }
    at += length;
  }
  return -1;
}

}  // namespace

int ReadVolumeIdentity(const ImageReadFn& read, VolumeIdentity* out) {
  *out = VolumeIdentity{};
  uint8_t boot[kSectorBytes];
  if (int err = read(boot, kSectorBytes, 0)) return err;
  if (std::memcmp(boot + 3, "NTFS    ", 8) != 0) return EINVAL;
  const uint32_t sector_size = Field<uint16_t>(boot + 0x0B);
  const uint8_t spc_code = boot[0x0D];
  const uint32_t sectors_per_cluster = spc_code <= 0x80 ? spc_code : 1u << (256 - spc_code);
  const int64_t total_sectors = Field<int64_t>(boot + 0x28);
  const int64_t mft_lcn = Field<int64_t>(boot + 0x30);
  const int64_t mirror_lcn = Field<int64_t>(boot + 0x38);
  const int8_t record_code = static_cast<int8_t>(boot[0x40]);
  if (sector_size < 256 || sector_size > 4096 || sectors_per_cluster == 0 || total_sectors <= 0 ||
      sectors_per_cluster > 4096 || mft_lcn <= 0 || mirror_lcn <= 0)
    return EINVAL;
  const int64_t cluster_size = int64_t{sector_size} * sectors_per_cluster;
  const int64_t record_size =
      record_code > 0 ? record_code * cluster_size : (record_code > -32 ? int64_t{1} << -record_code : 0);
  if (record_size < kSectorBytes || record_size > 65536) return EINVAL;
  out->serial = Field<uint64_t>(boot + 0x48);
  out->boot_crc = Crc32(boot, kSectorBytes);
  out->cluster_count = static_cast<uint64_t>(total_sectors / sectors_per_cluster);

  // Record 3 lies in the first run of $MFT and of $MFTMirr on every volume.
  const int64_t starts[2] = {mft_lcn, mirror_lcn};
  for (int copy = 0; copy < 2; ++copy) {
    if (starts[copy] > INT64_MAX / cluster_size - 4) return EINVAL;
    const int64_t record_at = starts[copy] * cluster_size + 3 * record_size;
    std::vector<uint8_t> record(static_cast<size_t>(record_size));
    if (read(record.data(), record_size, record_at) != 0) continue;
    const int64_t flags = FlagsInRecord(std::move(record));
    // The two bytes must not be a sector's last two, which fixups replace.
    if (flags < 0 || flags % kSectorBytes >= kSectorBytes - 2) continue;
    out->flag_bytes[copy] = record_at + flags;
    uint8_t low = 0;
    if (int err = read(&low, 1, out->flag_bytes[copy])) return err;
    out->dirty = out->dirty || (low & kDirtyBit);
  }
  return 0;
}

}  // namespace shardix::ntfsimage
