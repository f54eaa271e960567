#include "display/text_util.h"

#include <cstdio>
#include <cstring>

namespace shardix {
namespace {

// Not isspace(): that depends on the locale and on the sign of char.
bool IsTrimmedSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

char* TrimWhitespace(char* text) {
  if (text == nullptr || text[0] == '\0') return text;
  const std::size_t length = std::strlen(text);
  std::size_t first = 0;
  while (first < length && IsTrimmedSpace(text[first])) ++first;
  std::size_t end = length;
  while (end > first && IsTrimmedSpace(text[end - 1])) --end;
  std::memmove(text, text + first, end - first);
  text[end - first] = '\0';
  return text;
}

char* FormatStatusError(char* buffer, std::size_t size, const char* text) {
  if (size == 0) return buffer;
  std::snprintf(buffer, size, "Error: %s", text != nullptr ? text : "");
  return buffer;
}

bool IsErrorStatus(const char* text) {
  return text != nullptr && std::strncmp(text, "Error", 5) == 0;
}

}  // namespace shardix
