// Reading JSON: recipes and manifests. Numbers keep their text, so 64-bit
// values read back exactly.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace shardix::cli {

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::kNull; }
  bool is_number() const { return kind_ == Kind::kNumber; }
  bool is_string() const { return kind_ == Kind::kString; }
  bool is_array() const { return kind_ == Kind::kArray; }
  bool is_object() const { return kind_ == Kind::kObject; }
  bool is_bool() const { return kind_ == Kind::kBool; }

  bool boolean() const { return boolean_; }
  const std::string& text() const { return text_; }  // a string, or a number as written
  const std::vector<JsonValue>& items() const { return items_; }
  // Members in the order written.
  const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }
  // The member `key`, or null when absent.
  const JsonValue* Find(const std::string& key) const;
  // A whole number that fits, or false.
  bool AsUnsigned(uint64_t* value) const;
  bool AsSigned(int64_t* value) const;

  // Compact JSON text of this value, members in their order.
  std::string Serialize() const;

  // Parses the whole text; false with a message naming line and column.
  static bool Parse(const std::string& text, JsonValue* out, std::string* error);

 private:
  friend class JsonParser;
  Kind kind_ = Kind::kNull;
  bool boolean_ = false;
  std::string text_;
  std::vector<JsonValue> items_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// `text` as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);

}  // namespace shardix::cli
