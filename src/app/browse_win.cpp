// The "..." command: choose the file to fragment with the open-file dialog.
#include <windows.h>
#include <commdlg.h>
#include <cderr.h>

#include <cstdio>

#include "app/main_window_win.h"
#include "display/text_util.h"
#include "app/ui_services_win.h"
#include "resource.h"

namespace shardix {

bool BrowseForFile(HWND window) {
  // 512 characters, wide: the dialog hands back any name the volume holds.
  wchar_t name[kTextBufferSize];
  GetDlgItemTextW(window, IDC_FILE_NAME, name, static_cast<int>(kTextBufferSize));

  OPENFILENAMEW request = {};
  // The record without the fields Windows 2000 added (88 bytes in a 32-bit
  // build): the plain dialog, no places bar.
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  request.hwndOwner = window;
  request.lpstrFilter = nullptr;
  request.lpstrFile = name;  // the dialog starts from the name already typed
  request.nMaxFile = static_cast<DWORD>(kTextBufferSize);
  request.lpstrTitle = L"Fragment file";
  request.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

  bool chosen = Ui().ShowOpenFileDialog(&request);
  DWORD error = chosen ? 0 : Ui().LastFileDialogError();
  if (!chosen && error == FNERR_INVALIDFILENAME) {
    // The typed text is no file name: start from an empty one instead.
    name[0] = L'\0';
    chosen = Ui().ShowOpenFileDialog(&request);
    error = chosen ? 0 : Ui().LastFileDialogError();
  }
  if (!chosen) GetDlgItemTextW(window, IDC_FILE_NAME, name, static_cast<int>(kTextBufferSize));
  SetDlgItemTextW(window, IDC_FILE_NAME, name);

  if (error != 0) {
    // Cancelling leaves no error; anything else is the dialog failing.
    char message[kTextBufferSize];
    std::snprintf(message, sizeof message, "The open-file dialog failed (common dialog error 0x%04lX).",
                  static_cast<unsigned long>(error));
    SetStatusError(message);
  }
  return chosen;
}

}  // namespace shardix
