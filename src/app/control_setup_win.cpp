// One-time set-up of the main window's controls.
#include <windows.h>
#include <commctrl.h>

#include "app/main_window_win.h"
#include "resource.h"

namespace shardix {

void InitFragmentSizeSlider(HWND window, int range_min, int range_max, int selection_start,
                            int selection_end_and_position) {
  HWND slider = GetDlgItem(window, IDC_FRAGMENT_SIZE);
  SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(range_min, range_max));
  SendMessageA(slider, TBM_SETPAGESIZE, 0, 4);
  SendMessageA(slider, TBM_SETSEL, FALSE, MAKELPARAM(selection_start, selection_end_and_position));
  // The "Large" end.
  SendMessageA(slider, TBM_SETPOS, TRUE, selection_end_and_position);
  SetFocus(slider);
}

void InitPlacementMethods(HWND window) {
  // In the order of the placement methods' numbers.
  static const char* const kMethods[] = {"Concentrated", "Scattered", "Random", "First Fit"};
  for (const char* method : kMethods) {
    SendDlgItemMessageA(window, IDC_PLACEMENT_METHOD, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(method));
  }
  SendDlgItemMessageA(window, IDC_PLACEMENT_METHOD, CB_SETCURSEL, 0, 0);
}

void SetFragmentCountRange(HWND window, int minimum, int maximum, int position) {
  SendDlgItemMessageA(window, IDC_FRAGMENT_COUNT_UPDOWN, UDM_SETRANGE32, minimum, maximum);
  SendDlgItemMessageA(window, IDC_FRAGMENT_COUNT_UPDOWN, UDM_SETPOS32, 0, position);
}

}  // namespace shardix
