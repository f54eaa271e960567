// The journal's own file: positioned reads and writes and a flush that
// reaches the disk, on POSIX systems and on Windows without <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace shardix::ntfsimage {

class JournalFile {
 public:
  JournalFile() = default;
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // Opens (creating when `create`) read-write. 0 or the errno.
  int Open(const std::string& path, bool create);
  bool is_open() const { return fd_ >= 0; }
  // 0 or the errno; a short transfer is EIO.
  int WriteAt(int64_t offset, const void* bytes, size_t count);
  int ReadAll(std::vector<uint8_t>* bytes);
  int Flush();  // the file's data on the disk
  void Close();

 private:
  int fd_ = -1;
};

// Flushes the folder holding `path` so that a file created or removed in it
// stays so after a power cut. 0 or the errno; 0 where the system offers no
// way to flush a folder.
int FlushFolderOf(const std::string& path);

}  // namespace shardix::ntfsimage
