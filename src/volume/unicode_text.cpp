#include "volume/unicode_text.h"

namespace shardix {

namespace {

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The code point of the well-formed sequence at text[i] and its length, or
// 0 as length when there is none there.
char32_t DecodeUtf8(std::string_view text, size_t i, size_t* length) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  *length = 0;
  if (lead < 0x80) {
    *length = 1;
    return lead;
  }
  size_t count;
  char32_t c, minimum;
  if ((lead & 0xE0) == 0xC0) count = 2, c = lead & 0x1F, minimum = 0x80;
  else if ((lead & 0xF0) == 0xE0) count = 3, c = lead & 0x0F, minimum = 0x800;
  else if ((lead & 0xF8) == 0xF0) count = 4, c = lead & 0x07, minimum = 0x10000;
  else return 0;
  if (i + count > text.size()) return 0;
  for (size_t k = 1; k < count; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *length = count;
  return c;
}

}  // namespace

std::string Utf8FromUtf16(std::u16string_view text, bool* valid) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = 0xFFFD;
      if (valid) *valid = false;
    }
    AppendUtf8(c, &out);
  }
  return out;
}

std::string ReadableUtf8(std::string_view text, bool* exact) {
  bool valid = true;
  const std::u16string wide = Utf16FromUtf8(text, &valid);
  if (exact) *exact = valid;
  return valid ? std::string(text) : Utf8FromUtf16(wide);
}

std::string HexBytes(std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

std::u16string Utf16FromUtf8(std::string_view text, bool* valid) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t length = 0;
    char32_t c = DecodeUtf8(text, i, &length);
    if (length == 0) {
      c = 0xFFFD;
      length = 1;
      if (valid) *valid = false;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += length;
  }
  return out;
}

std::string InvalidNameText(const std::string& shown) {
  return "The name " + shown + " is not valid Unicode (it holds an unpaired surrogate, shown as " +
         kReplacementCharacter + "); no file of that name can be opened";
}

std::filesystem::path PathFromUtf8(const std::string& text) {
#ifdef _WIN32
  const std::u16string wide = Utf16FromUtf8(text);
  return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
#else
  return std::filesystem::path(text);  // bytes as they are
#endif
}

std::string Utf8FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::wstring& wide = path.native();
  return Utf8FromUtf16(std::u16string(wide.begin(), wide.end()));
#else
  return path.native();
#endif
}

}  // namespace shardix
