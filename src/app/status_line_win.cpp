// The status line, the progress bar and the settings switch.
#include <windows.h>
#include <commctrl.h>

#include "app/app_state_win.h"
#include "app/main_window_win.h"
#include "app/window_text_win.h"
#include "display/text_util.h"
#include "resource.h"

namespace shardix {

const int kSettingsGroup[15] = {
    IDC_SETTINGS_GROUP,       IDC_FRAGMENT_COUNT_LABEL, IDC_FRAGMENT_SIZE_LABEL,
    IDC_LOCATION_LABEL,       IDC_FRAGMENT_SIZE,        IDC_FRAGMENT_COUNT,
    IDC_PLACEMENT_METHOD,     IDC_FRAGMENT_COUNT_UPDOWN, IDC_SMALL_LABEL,
    IDC_LARGE_LABEL,          IDC_MAX_LABEL,            IDC_MAX_VALUE,
    IDC_FRAGMENT,             IDC_DEFRAGMENT,           IDC_VOLUME_INFO,
};

void SetStatusText(const char* text) { SetDialogItemText(g_app.main_window, IDC_STATUS, text); }

void SetStatusError(const char* text) {
  char line[kTextBufferBytes];  // the status line shows 511 characters of it
  SetStatusText(FormatStatusError(line, sizeof line, text));
}

void SetProgress(uint64_t position) {
  // The bar holds 32-bit positions; the job commands set a range that fits.
  SendDlgItemMessageA(g_app.main_window, IDC_PROGRESS, PBM_SETPOS,
                      static_cast<WPARAM>(static_cast<uint32_t>(position)), 0);
}

void EnableSettings(HWND window, bool enable) {
  for (int id : kSettingsGroup) EnableWindow(GetDlgItem(window, id), enable ? TRUE : FALSE);
}

}  // namespace shardix
