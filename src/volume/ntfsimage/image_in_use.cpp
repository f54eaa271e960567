#include "volume/ntfsimage/image_in_use.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

namespace shardix::ntfsimage {

#ifdef __linux__

namespace {

// mountinfo escapes blanks and backslashes as \ooo.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

bool SameFile(const struct stat& a, const std::string& other) {
  struct stat b;
  if (stat(other.c_str(), &b) != 0) return false;
  if (S_ISBLK(a.st_mode)) return S_ISBLK(b.st_mode) && a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A mount whose source is the image or the device.
std::string MountOf(const struct stat& image) {
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point, word;
    fields >> id >> parent >> numbers >> root >> point;
    while (fields >> word && word != "-") {
    }
    std::string type, source;
    fields >> type >> source;
    source = Unescape(source);
    if (source.empty() || source[0] != '/') continue;
    if (SameFile(image, source)) return "mounted at " + Unescape(point);
  }
  return "";
}

// A loop device whose backing file is the image.
std::string LoopOf(const struct stat& image) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/block", error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("loop", 0) != 0) continue;
    std::ifstream backing(entry.path() / "loop" / "backing_file");
    std::string file;
    if (!std::getline(backing, file) || file.empty()) continue;
    const std::string deleted = " (deleted)";
    if (file.size() > deleted.size() && file.compare(file.size() - deleted.size(), deleted.size(), deleted) == 0)
      continue;
    if (SameFile(image, file)) return "the backing file of /dev/" + name;
  }
  return "";
}

// A write lock that another process holds on the image: libntfs-3g takes
// one for every read-write mount, ours (another Shardix job) and ntfs-3g's.
// Reading it through the library would ask for a lock of its own and fail.
std::string WriteLockOf(const std::string& canonical) {
  const int fd = open(canonical.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  struct flock probe{};
  probe.l_type = F_RDLCK;
  probe.l_whence = SEEK_SET;
  const bool held = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type == F_WRLCK;
  close(fd);
  if (!held) return "";
  return "held for writing by process " + std::to_string(probe.l_pid) +
         " (another Shardix job or an ntfs-3g mount)";
}

}  // namespace

std::string InUseElsewhere(const std::string& canonical) {
  struct stat image;
  if (stat(canonical.c_str(), &image) != 0) return "";
  if (std::string mount = MountOf(image); !mount.empty()) return mount;
  if (S_ISREG(image.st_mode)) {
    if (std::string lock = WriteLockOf(canonical); !lock.empty()) return lock;
    return LoopOf(image);
  }
  if (S_ISBLK(image.st_mode)) {
    // The kernel refuses an exclusive open of a device that a file system,
    // a partition in use or another exclusive opener holds.
    const int fd = open(canonical.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    if (fd < 0 && errno == EBUSY) return "in use by the system (mounted, or held by another program)";
    if (fd >= 0) close(fd);
  }
  return "";
}

#else

std::string InUseElsewhere(const std::string&) { return ""; }  // the image lock covers Windows

#endif

}  // namespace shardix::ntfsimage
