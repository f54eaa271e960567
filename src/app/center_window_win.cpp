// CenterWindowOnParent: a dialog over the centre of its parent, on screen.
#include "app/center_window_win.h"

#include <windows.h>

#include "app/ui_services_win.h"

namespace shardix {
namespace {

// Along one axis: centred over the parent, then kept between `low` and
// `high`; the low edge wins when the window is longer than the screen.
LONG CenteredStart(LONG parent_start, LONG parent_length, LONG length, LONG low, LONG high) {
  LONG start = parent_start + (parent_length - length) / 2;  // truncates toward zero
  if (start + length > high) start = high - length;
  if (start < low) start = low;
  return start;
}

}  // namespace

POINT CenteredPosition(const RECT& window, const RECT& parent, const RECT& screen) {
  return {CenteredStart(parent.left, parent.right - parent.left, window.right - window.left, screen.left,
                        screen.right),
          CenteredStart(parent.top, parent.bottom - parent.top, window.bottom - window.top, screen.top,
                        screen.bottom)};
}

bool CenterWindowOnParent(HWND window, HWND parent) {
  RECT window_rect;
  RECT parent_rect;
  if (!GetWindowRect(window, &window_rect) || !GetWindowRect(parent, &parent_rect)) {
    ReportSystemError(window, "GetWindowRect() Error", GetLastError(), MB_ICONERROR);
    return false;
  }
  // The work area of the parent's monitor: a monitor left of or above the
  // primary one has negative coordinates, and the task bar is no place for
  // a dialog.
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoA(MonitorFromWindow(parent, MONITOR_DEFAULTTONEAREST), &monitor)) {
    ReportSystemError(window, "GetMonitorInfo() Error", GetLastError(), MB_ICONERROR);
    return false;
  }
  const POINT place = CenteredPosition(window_rect, parent_rect, monitor.rcWork);
  if (!SetWindowPos(window, nullptr, place.x, place.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)) {
    ReportSystemError(window, "SetWindowPos() Error", GetLastError(), MB_ICONERROR);
    return false;
  }
  return true;
}

}  // namespace shardix
