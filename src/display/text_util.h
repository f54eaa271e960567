// Text helpers shared by the front ends and the engine: the size of the
// program's text buffers and the status line's "Error" rule.
#pragma once

#include <cstddef>

namespace shardix {

// Size of every text buffer of the program (status line, file name, ...).
constexpr std::size_t kTextBufferSize = 512;
// Bytes that hold kTextBufferSize characters (UTF-16 units) in UTF-8, the
// program's own text: at most three bytes each.
constexpr std::size_t kTextBufferBytes = kTextBufferSize * 3;

// Removes leading and trailing whitespace (space, \t, \n, \v, \f, \r; bytes
// of 128 and above never count) in place, moving the rest to the front.
// Returns `text`; null stays null.
char* TrimWhitespace(char* text);

// Writes "Error: " and `text` into `buffer` of `size` bytes, cut at the
// buffer's end when too long (always terminated when size > 0). Returns
// `buffer`.
char* FormatStatusError(char* buffer, std::size_t size, const char* text);

// Whether a status text shows in red: its first five characters are exactly
// "Error" (case-sensitive).
bool IsErrorStatus(const char* text);

}  // namespace shardix
