// Who a volume is, and the mark that says a change to it is under way: the
// NTFS dirty flag (VOLUME_IS_DIRTY in $Volume's $VOLUME_INFORMATION), which
// Windows and the repair tools also honour. Read and set on the raw image,
// below the library, so that recovery can look before anything mounts it.
// Private to the journal.
#pragma once

#include <cstdint>
#include <functional>

namespace shardix::ntfsimage {

// Reads `count` bytes at `offset` of the image whole: 0 or an errno.
using ImageReadFn = std::function<int(void* bytes, int64_t count, int64_t offset)>;

constexpr int64_t kSectorBytes = 512;  // the journal's unit, and NTFS's fixup stride

struct VolumeIdentity {
  uint64_t serial = 0;        // the boot sector's volume serial number
  uint32_t boot_crc = 0;      // CRC-32 of the boot sector's 512 bytes
  uint64_t cluster_count = 0;
  // Image byte offsets of the low byte of $VOLUME_INFORMATION's flags in
  // record 3 of $MFT and of $MFTMirr.
  int64_t flag_bytes[2] = {-1, -1};
  bool dirty = false;         // a copy found has VOLUME_IS_DIRTY set now

  bool SameVolume(const VolumeIdentity& other) const {
    return serial == other.serial && boot_crc == other.boot_crc &&
           cluster_count == other.cluster_count;
  }
};

// 0 or an errno (EINVAL: no NTFS boot sector). A copy of the flags that
// cannot be found (no sound $Volume record where the boot sector says, or a
// flags field the record's fixups would cover) keeps its offset at -1.
int ReadVolumeIdentity(const ImageReadFn& read, VolumeIdentity* out);
// Both copies of the flags were found: the volume can carry the mark.
inline bool CanMark(const VolumeIdentity& volume) {
  return volume.flag_bytes[0] >= 0 && volume.flag_bytes[1] >= 0;
}

constexpr uint8_t kDirtyBit = 0x01;  // VOLUME_IS_DIRTY, in the flags' low byte

// The sector holding `flag_byte`, and where in it the byte lies.
inline int64_t SectorOf(int64_t flag_byte) { return flag_byte - flag_byte % kSectorBytes; }

}  // namespace shardix::ntfsimage
