// A file written whole under its name, or not at all: the bytes go to a new
// file beside the target, with a name no one else uses, which takes the
// target's name only once every byte is written and flushed to the device.
//
// Where that would change what the name means to its owner, the target is
// written in place instead: when the folder does not let us create files, when
// the target is a link (symbolic, or one of several hard links, which all keep
// showing the new bytes), when it belongs to someone else, or when it is not a
// regular file at all (a device such as /dev/full, a pipe). A failure in place
// can leave the old bytes partly overwritten; nothing else is ever deleted or
// renamed. A replaced regular file keeps its permission bits (and, on Windows,
// its attributes, through ReplaceFile).
//
// Every call returns a Windows error code (error_codes.h) from the system
// call that failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace shardix {

class ReplacingFile {
 public:
  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile();  // abandons an uncommitted file

  // Checks that `path` may be written and opens what the bytes go to.
  uint32_t Open(const std::string& path);
  // Buffers and writes; the first failure sticks.
  uint32_t Write(const void* data, std::size_t length);
  // Writes what is buffered, flushes it to the device, closes, and gives the
  // bytes the target's name. On failure nothing of ours is left behind.
  uint32_t Commit();
  // Drops what was written: a new file beside the target is removed.
  void Abandon();

  // True when the bytes go straight into the target (see above).
  bool in_place() const { return in_place_; }

 private:
  static constexpr std::size_t kBufferSize = 1 << 16;

#ifdef _WIN32
  bool IsOpen() const { return handle_ != nullptr; }
#else
  bool IsOpen() const { return fd_ >= 0; }
#endif
  void Restart(const std::string& path);  // drops what was open, for `path`
  uint32_t Drain();
  uint32_t WriteThrough(const char* bytes, std::size_t length);
  uint32_t CloseHandle();

  std::string target_;
  std::string temporary_;  // empty when writing in place
  std::vector<char> buffer_;
  bool in_place_ = false;
  bool regular_ = true;     // a regular file: sized and synced at the end
  bool existed_ = false;    // the target existed when opened
  uint32_t failure_ = 0;
#ifdef _WIN32
  void* handle_ = nullptr;  // a HANDLE
#else
  int fd_ = -1;
#endif
};

}  // namespace shardix
