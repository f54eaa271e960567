// What ReplacingFile does alike everywhere: buffering the bytes and
// dropping an unfinished file.
#include <cstdio>

#include "volume/error_codes.h"
#include "volume/replacing_file.h"

namespace shardix {

ReplacingFile::~ReplacingFile() { Abandon(); }

void ReplacingFile::Restart(const std::string& path) {
  Abandon();
  target_ = path;
  failure_ = 0;
  in_place_ = false;
  regular_ = true;
  buffer_.reserve(kBufferSize);
}

uint32_t ReplacingFile::Drain() {
  if (WriteThrough(buffer_.data(), buffer_.size()) != kErrorSuccess) return failure_;
  buffer_.clear();
  return kErrorSuccess;
}

uint32_t ReplacingFile::Write(const void* data, std::size_t length) {
  if (failure_ != 0) return failure_;
  if (!IsOpen()) return failure_ = kErrorInvalidHandle;
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    if (buffer_.empty() && length >= kBufferSize) return WriteThrough(bytes, length);
    const std::size_t room = kBufferSize - buffer_.size();
    const std::size_t step = length < room ? length : room;
    buffer_.insert(buffer_.end(), bytes, bytes + step);
    bytes += step;
    length -= step;
    if (buffer_.size() == kBufferSize && Drain() != kErrorSuccess) return failure_;
  }
  return kErrorSuccess;
}

void ReplacingFile::Abandon() {
  CloseHandle();
  if (!temporary_.empty()) {
    std::remove(temporary_.c_str());
    temporary_.clear();
  }
  buffer_.clear();
}

}  // namespace shardix
