// Whole files written into and deleted from a test image, through the
// image builder the scenario builds use: its shared read-write mount is let
// go, and so written back, before each call returns.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "volume/ntfsimage/image_builder.h"

namespace shardix {

// Creates (or replaces the contents of) `inner_path` ('/'-separated, leading
// '/'; the folder must exist) with `bytes`. Returns 0 or a Windows code,
// with a line for people in *error.
inline uint32_t WriteFileToImage(const std::string& image, const std::string& inner_path,
                                 const std::vector<uint8_t>& bytes, std::string* error) {
  std::unique_ptr<ImageBuilder> builder;
  if (const uint32_t code = OpenImageBuilder(image, &builder, error)) return code;
  return builder->WriteStream(
      inner_path, "", bytes.size(), {},
      [&](uint64_t offset, uint8_t* out, std::size_t count) { std::memcpy(out, bytes.data() + offset, count); },
      error);
}

inline uint32_t DeleteFileFromImage(const std::string& image, const std::string& inner_path,
                                    std::string* error) {
  std::unique_ptr<ImageBuilder> builder;
  if (const uint32_t code = OpenImageBuilder(image, &builder, error)) return code;
  return builder->Delete(inner_path, error);
}

}  // namespace shardix
