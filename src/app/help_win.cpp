// ShowHelp: opens "\help\html\Index.html" under the program's folder with
// whatever the shell associates with it, and explains a failure.
#include "app/help_win.h"

// Windows before <shellapi.h>; keep the order.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "app/commands_win.h"
#include "display/text_util.h"
#include "app/ui_services_win.h"
#include "volume/wide_text.h"

namespace shardix {
namespace {

constexpr char kHelpErrorCaption[] = "Error opening browser to display Help file";

// The error box: the explanation, then a blank line and the path when there
// is one.
void ShowHelpError(HWND window, const char* explanation, const char* help_path) {
  char text[kTextBufferBytes];
  if (help_path[0] != '\0') {
    std::snprintf(text, sizeof text, "%s\n\n%s", explanation, help_path);
  } else {
    std::snprintf(text, sizeof text, "%s", explanation);
  }
  Ui().ShowMessageBox(window, text, kHelpErrorCaption, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

bool HelpPathFor(const char* program_path, char* help_path, std::size_t size) {
  if (size == 0) return false;
  help_path[0] = '\0';
  const char* last_backslash = std::strrchr(program_path, '\\');
  // A bare file name has the current folder as its folder.
  const std::size_t folder_length = last_backslash != nullptr ? last_backslash - program_path : 0;
  const int written = std::snprintf(help_path, size, "%.*s%s%s", static_cast<int>(folder_length), program_path,
                                    last_backslash != nullptr ? kHelpFolder : kHelpFolder + 1, kHelpFile);
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    help_path[0] = '\0';
    return false;
  }
  return true;
}

const char* ShellErrorText(INT_PTR result) {
  switch (result) {
    case SE_ERR_NOASSOC: return "There is no application associated with the given file name extension";
    case SE_ERR_OOM: return "There is insufficient memory available";
    case SE_ERR_PNF: return "The specified path was not found";
    case SE_ERR_SHARE: return "A sharing violation occurred";
    case SE_ERR_FNF: return "The specified help file was not found";
    default: return "An error occured while trying to open the browser";
  }
}

bool ShowHelp(HWND window) {
  // Wide, then UTF-8: the program may lie in a folder of any name.
  wchar_t wide_path[kTextBufferSize];
  const DWORD length = GetModuleFileNameW(nullptr, wide_path, kTextBufferSize);
  if (length == 0) {
    ReportSystemError(window, "GetModuleFileName() Error", GetLastError(), MB_ICONEXCLAMATION);
    return false;
  }
  // A cut path would name some other folder.
  if (length >= kTextBufferSize) {
    ReportSystemError(window, "GetModuleFileName() Error", ERROR_INSUFFICIENT_BUFFER, MB_ICONEXCLAMATION);
    return false;
  }
  const std::string program_utf8 = Utf8FromWide(std::wstring_view(wide_path, length));
  const char* program_path = program_utf8.c_str();
  // 512 characters, as the program's paths hold, in UTF-8.
  char help_path[kTextBufferBytes];
  if (!HelpPathFor(program_path, help_path, sizeof help_path) ||
      WideFromUtf8(help_path).size() >= kTextBufferSize) {
    ShowHelpError(window, "The help file's path is too long", program_path);
    return false;
  }
  const INT_PTR result = reinterpret_cast<INT_PTR>(Ui().ShellOpen(window, help_path));
  if (result > 32) return true;
  ShowHelpError(window, ShellErrorText(result), help_path);
  return false;
}

}  // namespace shardix
