// Making the demo's NTFS image: mkntfs on a sparse file, then files of
// different sizes written and some deleted again, so that free space lies
// in pieces as on a volume in use.
#pragma once

#include <cstdint>
#include <string>

namespace shardix::cli {

struct NtfsFormat {
  uint32_t cluster_size = 4096;
  uint32_t sector_size = 0;  // 0: mkntfs's own choice
  std::string label = "Demo";
  bool zero_time = false;    // every time stamp 1970-01-01, for images made again byte for byte
};

// Makes `image` a sparse file of `bytes` bytes (replacing what was there)
// formatted by mkntfs. Prints what failed, as `who`, and returns false on
// failure.
bool FormatNewImage(const std::string& image, uint64_t bytes, const NtfsFormat& format,
                    const char* who);

struct DemoImage {
  std::string folder;
  std::string image;      // the image file
  std::string file_path;  // the demo file, image-as-folder
};

// Makes the image in `folder` (created if missing; "" for a new folder under
// the system's temporary folder). An image already there is replaced only
// with `replace`: it may be one the user fragmented by hand. Prints what
// failed and returns false on failure.
bool MakeDemoImage(const std::string& folder, bool replace, DemoImage* out);

}  // namespace shardix::cli
