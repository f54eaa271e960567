#include "cli/scenario/json_value.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "cli/json_writer.h"

namespace shardix::cli {

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : text_(text) {}

  bool ParseDocument(JsonValue* out, std::string* error) {
    if (!Value(out, 0) || (SkipSpace(), at_ != text_.size() && Fail("text after the value"))) {
      *error = error_;
      return false;
    }
    return true;
  }

 private:
  bool Fail(const std::string& what) {
    if (!error_.empty()) return false;
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < at_ && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    error_ = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
    return false;
  }
  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' ||
                                  text_[at_] == '\r'))
      ++at_;
  }
  bool Literal(const char* word) {
    const std::string w(word);
    if (text_.compare(at_, w.size(), w) != 0) return Fail("unexpected text");
    at_ += w.size();
    return true;
  }
  static void AppendUtf8(uint32_t code, std::string* out) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xE0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (code >> 18));
      *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool Hex4(uint32_t* code) {
    if (at_ + 4 > text_.size()) return Fail("short \\u escape");
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      *code <<= 4;
      if (c >= '0' && c <= '9') *code |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') *code |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') *code |= static_cast<uint32_t>(c - 'A' + 10);
      else return Fail("bad \\u escape");
    }
    return true;
  }
  bool String(std::string* out) {
    ++at_;  // the opening quote
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (at_ >= text_.size()) break;
      const char e = text_[at_++];
      switch (e) {
        case '"': case '\\': case '/': *out += e; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          uint32_t code = 0;
          if (!Hex4(&code)) return false;
          if (code >= 0xD800 && code < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
            at_ += 2;
            uint32_t low = 0;
            if (!Hex4(&low)) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(code, out);
          break;
        }
        default: return Fail("bad escape");
      }
    }
    return Fail("unterminated string");
  }
  bool Number(JsonValue* out) {
    const std::size_t start = at_;
    if (text_[at_] == '-') ++at_;
    while (at_ < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[at_])) ||
                                  text_[at_] == '.' || text_[at_] == 'e' || text_[at_] == 'E' ||
                                  text_[at_] == '+' || text_[at_] == '-'))
      ++at_;
    out->kind_ = JsonValue::Kind::kNumber;
    out->text_ = text_.substr(start, at_ - start);
    char* end = nullptr;
    std::strtod(out->text_.c_str(), &end);
    if (out->text_.empty() || *end != '\0') return Fail("bad number");
    return true;
  }
  bool Value(JsonValue* out, int depth) {
    if (depth > 64) return Fail("nested too deep");
    SkipSpace();
    if (at_ >= text_.size()) return Fail("unexpected end");
    const char c = text_[at_];
    if (c == '{') {
      out->kind_ = JsonValue::Kind::kObject;
      ++at_;
      SkipSpace();
      if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
      for (;;) {
        SkipSpace();
        if (at_ >= text_.size() || text_[at_] != '"') return Fail("expected a member name");
        std::string key;
        if (!String(&key)) return false;
        for (const auto& member : out->members_)
          if (member.first == key) return Fail("member \"" + key + "\" given twice");
        SkipSpace();
        if (at_ >= text_.size() || text_[at_++] != ':') return Fail("expected ':'");
        JsonValue value;
        if (!Value(&value, depth + 1)) return false;
        out->members_.emplace_back(std::move(key), std::move(value));
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == ',') { ++at_; continue; }
        if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
        return Fail("expected ',' or '}'");
      }
    }
    if (c == '[') {
      out->kind_ = JsonValue::Kind::kArray;
      ++at_;
      SkipSpace();
      if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
      for (;;) {
        JsonValue value;
        if (!Value(&value, depth + 1)) return false;
        out->items_.push_back(std::move(value));
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == ',') { ++at_; continue; }
        if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
        return Fail("expected ',' or ']'");
      }
    }
    if (c == '"') {
      out->kind_ = JsonValue::Kind::kString;
      return String(&out->text_);
    }
    if (c == 't') { out->kind_ = JsonValue::Kind::kBool; out->boolean_ = true; return Literal("true"); }
    if (c == 'f') { out->kind_ = JsonValue::Kind::kBool; return Literal("false"); }
    if (c == 'n') return Literal("null");
    if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return Number(out);
    return Fail("unexpected character");
  }

  const std::string& text_;
  std::size_t at_ = 0;
  std::string error_;
};

bool JsonValue::Parse(const std::string& text, JsonValue* out, std::string* error) {
  *out = JsonValue();
  return JsonParser(text).ParseDocument(out, error);
}

const JsonValue* JsonValue::Find(const std::string& key) const {
  for (const auto& member : members_)
    if (member.first == key) return &member.second;
  return nullptr;
}

bool JsonValue::AsUnsigned(uint64_t* value) const {
  if (kind_ != Kind::kNumber || text_.empty() || text_[0] == '-') return false;
  for (char c : text_)
    if (c < '0' || c > '9') return false;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text_.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  *value = parsed;
  return true;
}

bool JsonValue::AsSigned(int64_t* value) const {
  if (kind_ != Kind::kNumber) return false;
  uint64_t magnitude = 0;
  JsonValue positive = *this;
  const bool negative = !text_.empty() && text_[0] == '-';
  if (negative) positive.text_ = text_.substr(1);
  if (!positive.AsUnsigned(&magnitude) || magnitude > (uint64_t{1} << 63) - (negative ? 0 : 1))
    return false;
  *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

std::string JsonQuote(const std::string& text) {
  JsonWriter writer;
  writer.String(text);
  return writer.text();
}

std::string JsonValue::Serialize() const {
  switch (kind_) {
    case Kind::kNull: return "null";
    case Kind::kBool: return boolean_ ? "true" : "false";
    case Kind::kNumber: return text_;
    case Kind::kString: return JsonQuote(text_);
    case Kind::kArray: {
      std::string out = "[";
      for (std::size_t i = 0; i < items_.size(); ++i) out += (i ? "," : "") + items_[i].Serialize();
      return out + "]";
    }
    case Kind::kObject: {
      std::string out = "{";
      for (std::size_t i = 0; i < members_.size(); ++i)
        out += (i ? "," : "") + JsonQuote(members_[i].first) + ":" + members_[i].second.Serialize();
      return out + "}";
    }
  }
  return "null";
}

}  // namespace shardix::cli
