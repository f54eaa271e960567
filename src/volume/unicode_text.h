// Text inside Shardix is UTF-8; Windows hands over UTF-16, and NTFS names may
// hold unpaired surrogates, which no UTF-8 text can carry. The conversions
// say when they had to replace something, so a caller can refuse a name
// instead of opening another file whose name reads the same.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace shardix {

// The replacement character U+FFFD, in UTF-8.
inline constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

// UTF-16 to UTF-8. Each unpaired surrogate becomes U+FFFD and sets *valid
// to false (left alone otherwise).
std::string Utf8FromUtf16(std::u16string_view text, bool* valid = nullptr);

// UTF-8 to UTF-16. Each byte that starts no well-formed sequence (overlong,
// encoded surrogate, beyond U+10FFFF, cut short) becomes U+FFFD and sets
// *valid to false.
std::u16string Utf16FromUtf8(std::string_view text, bool* valid = nullptr);

// UTF-8 text as it can be shown: unchanged when well-formed, else with
// U+FFFD for each byte that starts no well-formed sequence (as
// Utf16FromUtf8 reads it); *exact says whether it came through unchanged.
std::string ReadableUtf8(std::string_view text, bool* exact = nullptr);

// Bytes as lower-case hex digits, two a byte: a name kept exactly beside
// its readable form.
std::string HexBytes(std::string_view bytes);

// The refusal for a name that is not valid Unicode, `shown` being the
// name with U+FFFD in place of what could not be converted.
std::string InvalidNameText(const std::string& shown);

// A file system path from UTF-8 text, and back. On Windows the standard
// library's own narrow conversion is not UTF-8.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace shardix
