// A small JSON writer for the command line's --json output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace shardix::cli {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(const std::string& key);
  JsonWriter& String(const std::string& value);
  JsonWriter& Number(uint64_t value);
  JsonWriter& SignedNumber(int64_t value);
  JsonWriter& OptionalNumber(std::optional<uint64_t> value);  // null when empty
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // A value that is already JSON text (an object written by another writer).
  JsonWriter& Raw(const std::string& json);

  const std::string& text() const { return text_; }

 private:
  void Separate();
  std::string text_;
  bool need_comma_ = false;
};

}  // namespace shardix::cli
