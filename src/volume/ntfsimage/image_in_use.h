// Whether something besides this process may be writing an image or device:
// a mount of it (a FUSE driver whose source is the image, a loop device
// backed by it, a mounted block device) or another program's lock on it.
#pragma once

#include <string>

namespace shardix::ntfsimage {

// Why `canonical` is in use elsewhere, as a phrase for people ("mounted at
// /mnt/x", "backed by /dev/loop3", ...), or "" when nothing was found.
// Checks what the system lets us see: /proc/self/mountinfo, the loop
// devices' backing files and an exclusive open of block devices on Linux.
std::string InUseElsewhere(const std::string& canonical);

}  // namespace shardix::ntfsimage
