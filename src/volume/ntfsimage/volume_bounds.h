// Bounds on what an image says about itself. An image is input from
// outside: its boot sector, file records and runlists are checked against
// the device and each other before anything here computes with them.
// Private to this folder: it includes the library's headers.
#pragma once

#include <cstdint>
#include <string>

#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

// Checks a freshly mounted volume's geometry against the device: the
// cluster count must fit the device and be covered by $Bitmap, and $MFT's
// sizes must fit the device. 0, or ERROR_DISK_CORRUPT with the library
// message saying what is wrong.
uint32_t CheckVolumeGeometry(ntfs_volume* vol);

// The number of file records that may be read: $MFT's initialized size,
// bounded by its allocation and the device.
s64 ReadableRecordCount(const ntfs_volume* vol);

// True when [lcn, lcn + length) lies on the volume, computed without
// overflow; holes (negative LCNs) are not runs on the volume.
bool RunWithinVolume(const ntfs_volume* vol, s64 lcn, s64 length);

// Walks the attributes of one file record read from the image, refusing any
// that leave the record: the header's bytes in use and first attribute
// offset, each attribute's length, name and mapping pairs.
class AttributeWalk {
 public:
  AttributeWalk(const MFT_RECORD* record, uint32_t record_size);
  // The next attribute, or null at the end or at damage (then problem() says
  // what is wrong).
  const ATTR_RECORD* Next();
  const std::string& problem() const { return problem_; }
  // True when the first attribute is the end marker.
  bool empty() const { return empty_; }

 private:
  const uint8_t* record_;
  uint64_t end_ = 0;     // bytes in use, bounded by the record size
  uint64_t offset_ = 0;  // of the next attribute
  bool first_ = true;
  bool empty_ = false;
  bool done_ = false;
  std::string problem_;
};

// The attribute's name as text; "?" when it cannot be converted. The name
// must already be known to lie within the attribute (AttributeWalk).
std::string AttributeNameText(const ATTR_RECORD* a);

}  // namespace shardix::ntfsimage
