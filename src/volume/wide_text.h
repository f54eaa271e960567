// The Win32 boundary: wide (UTF-16) text for the system's W interfaces,
// UTF-8 everywhere inside. Windows only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace shardix {

// UTF-8 to UTF-16 and back; see volume/unicode_text.h for what *valid says.
std::wstring WideFromUtf8(std::string_view text, bool* valid = nullptr);
std::string Utf8FromWide(std::wstring_view text, bool* valid = nullptr);

// The name to hand CreateFileW and its kin for a UTF-8 path: as written
// while it is short, made absolute and given the "\\?\" prefix once it
// reaches the classic limit (248 characters for a folder, 260 for a file),
// so long paths open too. Device and already prefixed paths stay as they are.
std::wstring WidePathForOpen(const std::string& path);

// True when `path` names an existing file that is not a folder.
bool IsExistingPlainFile(const std::string& path);

// Switches the console's output code page to UTF-8 while the program runs,
// when there is a console, and back at exit: the program writes UTF-8.
void UseUtf8ConsoleOutput();

}  // namespace shardix
