#include "scenario/recovered_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace shardix::scenario {

namespace fs = std::filesystem;

namespace {

std::string CannotOpen(const std::string& path, const std::string& reason) {
  return "cannot open " + path + ": " + reason;
}

}  // namespace

bool ListRecoveredFiles(const std::string& folder, std::vector<FoundFile>* files, std::string* error) {
  files->clear();
  std::error_code code;
  if (!fs::is_directory(fs::status(folder, code))) {
    *error = CannotOpen(folder, code ? code.message() : std::strerror(ENOTDIR));
    return false;
  }
  std::vector<fs::path> pending = {fs::path(folder)};
  while (!pending.empty()) {
    const fs::path here = pending.back();
    pending.pop_back();
    fs::directory_iterator entries(here, code);
    for (; !code && entries != fs::directory_iterator(); entries.increment(code)) {
      const fs::directory_entry& entry = *entries;
      const fs::file_status status = entry.symlink_status(code);
      if (code) break;
      if (fs::is_directory(status)) {
        pending.push_back(entry.path());
      } else if (fs::is_regular_file(status)) {
        const uint64_t size = entry.file_size(code);
        if (code) break;
        files->push_back({entry.path().lexically_relative(folder).native(), size});
      }
    }
    if (code) {
      *error = CannotOpen(here.native(), code.message());
      return false;
    }
  }
  std::sort(files->begin(), files->end(), [](const FoundFile& a, const FoundFile& b) { return a.path < b.path; });
  return true;
}

bool ReadInBlocks(const std::string& path, uint32_t block,
                  const std::function<void(const uint8_t* data, std::size_t length)>& take,
                  std::string* error) {
  // A file swapped for a link since it was listed is not followed either.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0) {
    *error = CannotOpen(path, std::strerror(errno));
    return false;
  }
  const std::size_t capacity = std::max<std::size_t>(block, std::size_t{1} << 20);
  std::vector<uint8_t> buffer(capacity);
  std::size_t filled = 0;
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data() + filled, capacity - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = CannotOpen(path, std::strerror(errno));
      ok = false;
      break;
    }
    filled += static_cast<std::size_t>(got);
    // Whole blocks only, so that each starts at a block-aligned offset.
    if (got > 0 && filled < capacity) continue;
    const std::size_t whole = got == 0 ? filled : filled - filled % block;
    for (std::size_t at = 0; at < whole; at += block) take(buffer.data() + at, std::min<std::size_t>(block, whole - at));
    std::memmove(buffer.data(), buffer.data() + whole, filled - whole);
    filled -= whole;
    if (got == 0) break;
  }
  ::close(fd);
  return ok;
}

}  // namespace shardix::scenario
