// Windows before <commdlg.h>/<shellapi.h>; keep the order.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>

#include "display/text_util.h"
#include "app/ui_services_win.h"
#include "volume/wide_text.h"

namespace shardix {
namespace {

class SystemUi : public UiServices {
 public:
  int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) override {
    return MessageBoxW(owner, WideFromUtf8(text != nullptr ? text : "").c_str(),
                       caption != nullptr ? WideFromUtf8(caption).c_str() : nullptr, type);
  }
  bool ShowOpenFileDialog(OPENFILENAMEW* request) override {
    return GetOpenFileNameW(request) != FALSE;
  }
  bool ShowSaveFileDialog(OPENFILENAMEW* request) override {
    return GetSaveFileNameW(request) != FALSE;
  }
  DWORD LastFileDialogError() override { return CommDlgExtendedError(); }
  HINSTANCE ShellOpen(HWND owner, const char* path) override {
    return ShellExecuteW(owner, L"open", WideFromUtf8(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
};

SystemUi g_system_ui;
UiServices* g_ui = &g_system_ui;

}  // namespace

UiServices& Ui() { return *g_ui; }

void SetUiServices(UiServices* services) { g_ui = services != nullptr ? services : &g_system_ui; }

void SystemErrorText(DWORD code, char* buffer, DWORD size) {
  if (size == 0) return;
  // Calls such as those of GDI may fail without setting a code; the system's
  // text for 0 would tell of success.
  if (code == ERROR_SUCCESS) {
    std::snprintf(buffer, size, "The call failed without giving an error code.");
    return;
  }
  // Wide, so a message in any language keeps its letters; 512 characters.
  wchar_t text[kTextBufferSize];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, kTextBufferSize, nullptr);
  if (length == 0) {
    std::snprintf(buffer, size, "Error %lu", static_cast<unsigned long>(code));
    return;
  }
  std::snprintf(buffer, size, "%s", Utf8FromWide(std::wstring_view(text, length)).c_str());
}

int ReportSystemError(HWND owner, const char* caption, DWORD code, UINT icon) {
  char text[kTextBufferBytes];
  SystemErrorText(code, text, sizeof text);
  return Ui().ShowMessageBox(owner, text, caption, MB_OK | icon);
}

}  // namespace shardix
