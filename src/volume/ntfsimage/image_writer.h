// Writing and deleting whole files in an NTFS image through libntfs-3g,
// without FUSE or root: the demo fills fresh images with these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace shardix {

// Creates (or replaces the contents of) `inner_path` ('/'-separated, leading
// '/'; the folder must exist) with `bytes`. Returns 0 or a Windows code, with
// a line for people in *error (which may be null).
uint32_t WriteFileToImage(const std::string& image, const std::string& inner_path,
                          const std::vector<uint8_t>& bytes, std::string* error);

// Deletes the file `inner_path` from the image.
uint32_t DeleteFileFromImage(const std::string& image, const std::string& inner_path,
                             std::string* error);

}  // namespace shardix
