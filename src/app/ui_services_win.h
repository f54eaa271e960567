// The modal boxes and common dialogs of the program go through this
// interface, so test programs answer them instead of a person (a box left
// open would hang a test run).
#pragma once

#include <windows.h>
#include <commdlg.h>

namespace shardix {

class UiServices {
 public:
  virtual ~UiServices() = default;

  // MessageBoxW with the UTF-8 texts.
  virtual int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;
  // GetOpenFileNameW / GetSaveFileNameW; false when cancelled or failed.
  virtual bool ShowOpenFileDialog(OPENFILENAMEW* request) = 0;
  virtual bool ShowSaveFileDialog(OPENFILENAMEW* request) = 0;
  // CommDlgExtendedError after the last file dialog (0 when cancelled).
  virtual DWORD LastFileDialogError() = 0;
  // ShellExecuteW with the verb "open" and the UTF-8 path; the result as
  // ShellExecuteW gives it.
  virtual HINSTANCE ShellOpen(HWND owner, const char* path) = 0;
};

// The services in use: the system's own unless replaced.
UiServices& Ui();
// Replaces them (null restores the system's). Not thread-safe: call it
// before any window exists.
void SetUiServices(UiServices* services);

// Shows a box with the system's message for `code` (looked up into a
// 512-character buffer), the caption naming the failed call, an OK button
// and `icon`. Returns the box's result.
int ReportSystemError(HWND owner, const char* caption, DWORD code, UINT icon);

// The system's message for `code` into `buffer`; "Error N" when there is none.
void SystemErrorText(DWORD code, char* buffer, DWORD size);

}  // namespace shardix
