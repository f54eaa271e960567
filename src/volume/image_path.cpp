#include "volume/image_path.h"

#include <filesystem>
#include <system_error>

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
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(prefix, error);
  if (error) return false;
  return std::filesystem::is_regular_file(status) || std::filesystem::is_block_file(status);
}

}  // namespace

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
