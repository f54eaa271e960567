// The image-as-folder path rule: a path whose leading part names an existing
// regular file or block device is a file inside that NTFS image.
#pragma once

#include <string>

namespace shardix {

struct ImagePath {
  std::string image;  // the image file or device, as written in the path
  std::string inner;  // the path inside the image, '/' separated, always starting with '/'
};

// True when some leading part of `path` (the whole path included) is an
// existing regular file or block device. The shortest such part wins, so a
// file inside an image is never mistaken for an image of its own.
bool SplitImagePath(const std::string& path, ImagePath* out);

// ERROR_NOT_IMAGE_FILE (kErrorNotImageFile) when `path` or a leading part of
// it is a FIFO, socket or character device: never an image, and opening one
// may block for good. 0 otherwise, missing files included.
uint32_t RefuseSpecialFile(const std::string& path);

// True for the characters that separate path parts here ('/' everywhere,
// '\\' too on Windows).
bool IsPathSeparator(char c);

}  // namespace shardix
