#include "volume/ntfsimage/journal/internal/journal_file.h"

#include "volume/unicode_text.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#ifdef _WIN32
#include <io.h>

#include "volume/wide_text.h"
#else
#include <unistd.h>
#endif

namespace shardix::ntfsimage {

namespace {

#ifdef _WIN32
int PortableOpen(const char* path, int flags) {
  return _wopen(WidePathForOpen(path).c_str(), flags | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int PortableClose(int fd) { return _close(fd); }
int PortableFlush(int fd) { return _commit(fd); }
long long PortableWrite(int fd, int64_t offset, const void* bytes, size_t count) {
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return _write(fd, bytes, static_cast<unsigned>(count));
}
long long PortableRead(int fd, int64_t offset, void* bytes, size_t count) {
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return _read(fd, bytes, static_cast<unsigned>(count));
}
#else
int PortableOpen(const char* path, int flags) { return open(path, flags | O_CLOEXEC, 0644); }
int PortableClose(int fd) { return close(fd); }
int PortableFlush(int fd) { return fdatasync(fd); }
long long PortableWrite(int fd, int64_t offset, const void* bytes, size_t count) {
  return pwrite(fd, bytes, count, offset);
}
long long PortableRead(int fd, int64_t offset, void* bytes, size_t count) {
  return pread(fd, bytes, count, offset);
}
#endif

}  // namespace

JournalFile::~JournalFile() { Close(); }

int JournalFile::Open(const std::string& path, bool create) {
  Close();
  errno = 0;
  fd_ = PortableOpen(path.c_str(), O_RDWR | (create ? O_CREAT : 0));
  return fd_ < 0 ? (errno ? errno : EIO) : 0;
}

int JournalFile::WriteAt(int64_t offset, const void* bytes, size_t count) {
  const auto* at = static_cast<const uint8_t*>(bytes);
  while (count > 0) {
    errno = 0;
    const long long done = PortableWrite(fd_, offset, at, count);
    if (done <= 0) return errno ? errno : EIO;
    at += done;
    offset += done;
    count -= static_cast<size_t>(done);
  }
  return 0;
}

int JournalFile::ReadAll(std::vector<uint8_t>* bytes) {
  bytes->clear();
  uint8_t chunk[65536];
  for (int64_t offset = 0;;) {
    errno = 0;
    const long long done = PortableRead(fd_, offset, chunk, sizeof chunk);
    if (done < 0) return errno ? errno : EIO;
    if (done == 0) return 0;
    bytes->insert(bytes->end(), chunk, chunk + done);
    offset += done;
  }
}

int JournalFile::Flush() {
  errno = 0;
  return PortableFlush(fd_) != 0 ? (errno ? errno : EIO) : 0;
}

void JournalFile::Close() {
  if (fd_ >= 0) PortableClose(fd_);
  fd_ = -1;
}

int FlushFolderOf(const std::string& path) {
#ifndef _WIN32
  std::string folder = Utf8FromPath(PathFromUtf8(path).parent_path());
  if (folder.empty()) folder = ".";
  errno = 0;
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno ? errno : EIO;
  const int failed = fsync(fd) != 0 ? (errno ? errno : EIO) : 0;
  close(fd);
  return failed;
#else
  (void)path;
  return 0;
#endif
}

}  // namespace shardix::ntfsimage
