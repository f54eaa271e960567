// NTFS images and devices through libntfs-3g: the `ntfsimage` backend of the
// volume layer. No library headers here, so any part of the program may
// include it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "volume/volume.h"

namespace shardix {

// Opens `inner_path` ('/'-separated, leading '/') inside the image or device
// `image`. A file and a volume opened from the same image share one
// read-write mount, which is written back and closed when the last of them
// goes. Returns a Windows error code and leaves *out empty on failure:
// ERROR_UNRECOGNIZED_VOLUME when the image holds no NTFS, ERROR_SHARING_VIOLATION
// when it is mounted or locked elsewhere, ERROR_VOLUME_DIRTY when Windows
// left it hibernated or without a clean shutdown.
uint32_t OpenImageFile(const std::string& image, const std::string& inner_path,
                       std::unique_ptr<VolumeFile>* out);
uint32_t OpenImageVolume(const std::string& image, std::unique_ptr<Volume>* out);

// Why the image or device `image` is in use outside this process (mounted,
// backing a loop device, held by the system), as a phrase such as "mounted
// at /mnt/x"; "" when nothing was found. Such an image is only read.
std::string ImageInUseElsewhere(const std::string& image);

// From now on this process mounts images and devices only for reading (no
// journal, no recovery, nothing written): for a job that only plans.
void OpenImagesForReadingOnly();

// The library's own last error line on this thread ("" when none), for
// reports that want more than the code's message.
std::string ImageLibraryDetail();

}  // namespace shardix
