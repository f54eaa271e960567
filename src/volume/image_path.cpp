#include "volume/image_path.h"

#include <filesystem>
#include <system_error>

#include "volume/error_codes.h"
#ifdef _WIN32
#include "volume/wide_text.h"
#endif

namespace shardix {

bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

namespace {

bool IsImageCandidate(const std::string& prefix) {
#ifdef _WIN32
  // The paths are UTF-8 and may be long: the standard library's narrow
  // conversion and the C library's stat take neither.
  return IsExistingPlainFile(prefix);
#endif
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(prefix, error);
  if (error) return false;
  return std::filesystem::is_regular_file(status) || std::filesystem::is_block_file(status);
}

#ifndef _WIN32
bool IsSpecialFile(const std::string& prefix) {
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(prefix, error);
  if (error) return false;
  return std::filesystem::is_fifo(status) || std::filesystem::is_socket(status) ||
         std::filesystem::is_character_file(status);
}
#endif

}  // namespace

uint32_t RefuseSpecialFile(const std::string& path) {
#ifdef _WIN32
  (void)path;  // no FIFOs there; device paths are the volume backend's
  return 0;
#else
  for (std::size_t end = 1; end <= path.size(); ++end) {
    if (end < path.size() && !IsPathSeparator(path[end])) continue;
    if (IsSpecialFile(path.substr(0, end))) return kErrorNotImageFile;
  }
  return 0;
#endif
}

bool SplitImagePath(const std::string& path, ImagePath* out) {
  for (std::size_t end = 0; end <= path.size(); ++end) {
    if (end < path.size() && !IsPathSeparator(path[end])) continue;
    if (end == 0) continue;  // the root itself
    std::string prefix = path.substr(0, end);
    if (!IsImageCandidate(prefix)) continue;
    std::string inner = "/";
    for (std::size_t i = end; i < path.size(); ++i) {
      char c = IsPathSeparator(path[i]) ? '/' : path[i];
      if (c == '/' && inner.back() == '/') continue;  // fold repeated separators
      inner.push_back(c);
    }
    if (inner.size() > 1 && inner.back() == '/') inner.pop_back();
    out->image = prefix;
    out->inner = inner;
    return true;
  }
  return false;
}

}  // namespace shardix
