#include "cli/json_writer.h"

#include <cstdio>

namespace shardix::cli {

void JsonWriter::Separate() {
  if (need_comma_) text_ += ',';
  need_comma_ = true;
}

JsonWriter& JsonWriter::BeginObject() {
  Separate();
  text_ += '{';
  need_comma_ = false;
  return *this;
}
JsonWriter& JsonWriter::EndObject() {
  text_ += '}';
  need_comma_ = true;
  return *this;
}
JsonWriter& JsonWriter::BeginArray() {
  Separate();
  text_ += '[';
  need_comma_ = false;
  return *this;
}
JsonWriter& JsonWriter::EndArray() {
  text_ += ']';
  need_comma_ = true;
  return *this;
}
JsonWriter& JsonWriter::Key(const std::string& key) {
  String(key);
  text_ += ':';
  need_comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::String(const std::string& value) {
  Separate();
  text_ += '"';
  for (unsigned char c : value) {
    switch (c) {
      case '"': text_ += "\\\""; break;
      case '\\': text_ += "\\\\"; break;
      case '\n': text_ += "\\n"; break;
      case '\r': text_ += "\\r"; break;
      case '\t': text_ += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          text_ += escaped;
        } else {
          text_ += static_cast<char>(c);
        }
    }
  }
  text_ += '"';
  return *this;
}

JsonWriter& JsonWriter::Number(uint64_t value) {
  Separate();
  text_ += std::to_string(value);
  return *this;
}
JsonWriter& JsonWriter::SignedNumber(int64_t value) {
  Separate();
  text_ += std::to_string(value);
  return *this;
}
JsonWriter& JsonWriter::OptionalNumber(std::optional<uint64_t> value) {
  return value ? Number(*value) : Null();
}
JsonWriter& JsonWriter::Bool(bool value) {
  Separate();
  text_ += value ? "true" : "false";
  return *this;
}
JsonWriter& JsonWriter::Null() {
  Separate();
  text_ += "null";
  return *this;
}
JsonWriter& JsonWriter::Raw(const std::string& json) {
  Separate();
  text_ += json;
  return *this;
}

}  // namespace shardix::cli
