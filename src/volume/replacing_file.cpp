// ReplacingFile on POSIX systems: mkstemp beside the target, fsync, rename.
#include "volume/replacing_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "volume/error_codes.h"

namespace shardix {

namespace {

uint32_t LastError() { return ErrorFromErrno(errno != 0 ? errno : EIO); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The mode a file created now gets: 0666 less the process's umask.
mode_t CreationMode() {
  const mode_t mask = umask(022);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

uint32_t ReplacingFile::Open(const std::string& path) {
  Restart(path);

  struct stat link_info {}, info{};
  existed_ = lstat(path.c_str(), &link_info) == 0;
  if (!existed_ && errno != ENOENT) return LastError();
  if (existed_ && stat(path.c_str(), &info) != 0) return LastError();  // a dangling link
  if (existed_ && S_ISDIR(info.st_mode)) return kErrorDirectoryNotSupported;

  if (existed_) {
    // Whatever happens next, the target itself must be ours to write, as
    // creating the file over it would require. Non-blocking, so that a pipe
    // without a reader fails here rather than hanging.
    errno = 0;
    const int probe = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (probe < 0) return LastError();
    regular_ = S_ISREG(info.st_mode);
    const bool keep_in_place = !regular_ || S_ISLNK(link_info.st_mode) || info.st_nlink > 1 ||
                               info.st_uid != geteuid();
    if (keep_in_place) {
      const int flags = fcntl(probe, F_GETFL);
      if (flags < 0 || fcntl(probe, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const uint32_t code = LastError();
        close(probe);
        return code;
      }
      fd_ = probe;
      in_place_ = true;
      return kErrorSuccess;
    }
    close(probe);
  }

  std::string pattern = FolderOf(path) + "/." + NameOf(path) + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  errno = 0;
  fd_ = mkstemp(name.data());
  if (fd_ < 0) {
    const int error = errno;
    // A folder that takes no new files: the existing target is written in place.
    if (existed_ && (error == EACCES || error == EPERM || error == EROFS)) {
      errno = 0;
      fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
      if (fd_ < 0) return LastError();
      in_place_ = true;
      return kErrorSuccess;
    }
    errno = error;
    return LastError();
  }
  temporary_ = name.data();
  (void)fcntl(fd_, F_SETFD, FD_CLOEXEC);
  // mkstemp creates 0600; the report gets the mode the old one had, or the
  // one a newly created file would get.
  if (fchmod(fd_, existed_ ? (info.st_mode & 07777) : CreationMode()) != 0) {
    const uint32_t code = LastError();
    Abandon();
    return code;
  }
  return kErrorSuccess;
}

uint32_t ReplacingFile::WriteThrough(const char* at, std::size_t left) {
  while (left > 0) {
    errno = 0;
    const ssize_t done = write(fd_, at, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = ENOSPC;
      return failure_ = LastError();
    }
    at += done;
    left -= static_cast<std::size_t>(done);
  }
  return kErrorSuccess;
}

uint32_t ReplacingFile::CloseHandle() {
  if (fd_ < 0) return kErrorSuccess;
  errno = 0;
  const int result = close(fd_);
  fd_ = -1;
  return result == 0 ? kErrorSuccess : LastError();
}

uint32_t ReplacingFile::Commit() {
  if (failure_ == 0 && fd_ < 0) failure_ = kErrorInvalidHandle;
  if (failure_ == 0) Drain();
  if (failure_ == 0 && in_place_ && regular_) {
    // Written over the old bytes from the start: cut what is left of them.
    errno = 0;
    const off_t end = lseek(fd_, 0, SEEK_CUR);
    if (end < 0 || ftruncate(fd_, end) != 0) failure_ = LastError();
  }
  // Errors the device reports late (a full disk behind a cache, a network
  // file system) come back here, before the name changes hands.
  if (failure_ == 0 && regular_ && fsync(fd_) != 0) failure_ = LastError();
  if (const uint32_t code = CloseHandle(); failure_ == 0) failure_ = code;
  if (failure_ == 0 && !temporary_.empty()) {
    errno = 0;
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) failure_ = LastError();
    else temporary_.clear();
  }
  const uint32_t result = failure_;
  Abandon();
  return result;
}

}  // namespace shardix
