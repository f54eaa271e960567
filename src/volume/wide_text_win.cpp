#include <windows.h>

#include <cstdlib>

#include "volume/unicode_text.h"
#include "volume/wide_text.h"

namespace shardix {

std::wstring WideFromUtf8(std::string_view text, bool* valid) {
  const std::u16string wide = Utf16FromUtf8(text, valid);
  return std::wstring(wide.begin(), wide.end());
}

std::string Utf8FromWide(std::wstring_view text, bool* valid) {
  return Utf8FromUtf16(std::u16string(text.begin(), text.end()), valid);
}

std::wstring WidePathForOpen(const std::string& path) {
  std::wstring wide = WideFromUtf8(path);
  // Below the shortest limit (CreateDirectory's) every call takes it as is.
  if (wide.size() < MAX_PATH - 12) return wide;
  if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
  // The prefix turns off the system's own clean-up of the name ('/', "..",
  // relative parts), so the name is made full first.
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  return wide;
}

namespace {

UINT g_previous_output_cp = 0;

void RestoreConsoleOutput() {
  if (g_previous_output_cp != 0) SetConsoleOutputCP(g_previous_output_cp);
}

}  // namespace

void UseUtf8ConsoleOutput() {
  // GetConsoleOutputCP answers 0 without a console; output to a file or a
  // pipe takes the UTF-8 bytes as they are.
  const UINT current = GetConsoleOutputCP();
  if (current == 0 || current == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
  // The console outlives the program: leave it as found.
  g_previous_output_cp = current;
  std::atexit(RestoreConsoleOutput);
}

bool IsExistingPlainFile(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WidePathForOpen(path).c_str(), GetFileExInfoStandard, &data)) return false;
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace shardix
