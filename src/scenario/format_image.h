// A new NTFS image: a sparse file formatted by mkntfs, run as a child
// process (Linux's ntfs-3g package).
#pragma once

#include <cstdint>
#include <string>

namespace shardix::scenario {

struct NtfsFormat {
  uint32_t cluster_size = 4096;
  uint32_t sector_size = 0;  // 0: mkntfs's own choice
  std::string label;
  bool zero_time = false;    // mkntfs's own time stamps read 1970-01-01
};

// Makes `image` a sparse file of `bytes` bytes (replacing what was there)
// formatted by mkntfs. False with a line for people in *error.
bool FormatNewImage(const std::string& image, uint64_t bytes, const NtfsFormat& format,
                    std::string* error);

}  // namespace shardix::scenario
