// The fuzz targets' input read as a stream of values; past its end every
// value reads as zero, so a target never runs out of answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace shardix::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  template <typename T>
  T Take() {
    T value{};
    const size_t take = std::min(sizeof value, size_ - std::min(at_, size_));
    if (take) std::memcpy(&value, data_ + at_, take);
    at_ += sizeof value;
    return value;
  }
  // Up to `limit` bytes up to the next zero byte.
  std::string TakeString(size_t limit) {
    std::string text;
    while (at_ < size_ && text.size() < limit) {
      const char c = static_cast<char>(data_[at_++]);
      if (c == 0) break;
      text.push_back(c);
    }
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace shardix::fuzz
