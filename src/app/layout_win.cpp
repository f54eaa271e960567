// OnSize, OnGetMinMaxInfo and AnchorToBottom: the main window keeps the
// width it first had, may grow taller but not shorter than it first was, and
// its lower controls follow the bottom edge.
#include "app/layout_win.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "display/text_util.h"
#include "app/ui_services_win.h"
#include "resource.h"

namespace shardix {
namespace {

// The main window's outer rectangle, taken at the first size query after the
// window exists; its size is the window's minimum for as long as it lives.
struct FirstWindowRect {
  HWND window = nullptr;  // the window it was taken from; null until taken
  RECT rect = {};
};
FirstWindowRect g_first_rect;

// A layout step that fails mid-drag cannot ask the user anything useful and
// a box per size notification would bury the window, so the system's message
// goes to the debugger output.
void TraceLayoutError(const char* call, DWORD code) {
  char message[kTextBufferSize];
  SystemErrorText(code, message, sizeof message);
  char line[kTextBufferSize + 64];
  std::snprintf(line, sizeof line, "Shardix layout: %s failed: %s\n", call, message);
  OutputDebugStringA(line);
}

// A control's outer rectangle in its parent's client coordinates.
bool ControlRect(HWND control, RECT* rect) {
  if (!GetWindowRect(control, rect)) {
    TraceLayoutError("GetWindowRect", GetLastError());
    return false;
  }
  SetLastError(ERROR_SUCCESS);
  if (MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(rect), 2) == 0 &&
      GetLastError() != ERROR_SUCCESS) {
    TraceLayoutError("MapWindowPoints", GetLastError());
    return false;
  }
  return true;
}

bool Move(HWND control, int left, int top, int width, int height) {
  if (MoveWindow(control, left, top, width, height, TRUE)) return true;
  TraceLayoutError("MoveWindow", GetLastError());
  return false;
}

// Moves `control` to `top`, keeping its left edge and width; its height is
// `height`, or its own when negative.
bool MoveToTop(HWND control, int top, int height) {
  RECT rect;
  if (!ControlRect(control, &rect)) return false;
  return Move(control, rect.left, top, rect.right - rect.left, height >= 0 ? height : rect.bottom - rect.top);
}

}  // namespace

int DialogUnitsToPixelsY(HWND window, int units) {
  RECT rect = {0, 0, 0, units};
  if (!MapDialogRect(window, &rect)) TraceLayoutError("MapDialogRect", GetLastError());
  return rect.bottom;
}

bool AnchorToBottom(HWND control, int distance, int client_height, bool repaint) {
  RECT rect;
  if (!ControlRect(control, &rect)) return false;
  const int top = client_height - DialogUnitsToPixelsY(GetParent(control), distance);
  // The outer size: a control with a border would shrink by it at every move
  // if its client size were taken.
  if (MoveWindow(control, rect.left, top, rect.right - rect.left, rect.bottom - rect.top, repaint)) return true;
  TraceLayoutError("MoveWindow", GetLastError());
  return false;
}

void OnSize(HWND window, int /*client_width*/, int client_height) {
  // Minimised, the client area is empty: the controls stay where they are
  // and restoring lays them out again from the restored height.
  if (IsIconic(window)) return;
  // The first size notification arrives while the window is being created,
  // before its controls exist; they start at the template's places.
  HWND list = GetDlgItem(window, IDC_FRAGMENT_LIST);
  if (list == nullptr) return;

  // Everything from the top of the fragment list downwards, whole width.
  RECT below_list = {0, 209, 500, 500};
  if (!MapDialogRect(window, &below_list)) TraceLayoutError("MapDialogRect", GetLastError());
  if (!InvalidateRect(window, &below_list, TRUE)) TraceLayoutError("InvalidateRect", GetLastError());
  // Every control that moves: a moved control's old picture may be copied to
  // its new place instead of being painted afresh.
  for (int id : {IDC_ANALYZE_FILE, IDC_VOLUME_INFO, IDC_FRAGMENT, IDC_DEFRAGMENT, IDC_HELP_BUTTON, IDC_ABOUT,
                 IDC_CLOSE, IDC_STATUS, IDC_PROGRESS}) {
    // (A null window would invalidate every window of the desktop.)
    HWND control = GetDlgItem(window, id);
    if (control != nullptr && !InvalidateRect(control, nullptr, FALSE)) {
      TraceLayoutError("InvalidateRect", GetLastError());
    }
  }

  // A window made shorter than its first height by a program (the size
  // limits bind only the user) gets an empty list, not a negative one.
  RECT list_rect;
  if (ControlRect(list, &list_rect)) {
    const int height = std::max(0, client_height - DialogUnitsToPixelsY(window, kFragmentListSpare));
    Move(list, list_rect.left, list_rect.top, list_rect.right - list_rect.left, height);
  }
  const struct {
    int id;
    int distance;
  } kAnchored[] = {
      {IDC_HELP_BUTTON, kBottomButtonsDistance}, {IDC_ABOUT, kBottomButtonsDistance},
      {IDC_CLOSE, kBottomButtonsDistance},       {IDC_FRAGMENT, kCommandButtonsDistance},
      {IDC_DEFRAGMENT, kCommandButtonsDistance}, {IDC_VOLUME_INFO, kCommandButtonsDistance},
      {IDC_ANALYZE_FILE, kCommandButtonsDistance}, {IDC_STATUS, kStatusLineDistance},
  };
  for (const auto& anchored : kAnchored) {
    HWND control = GetDlgItem(window, anchored.id);
    if (control != nullptr) AnchorToBottom(control, anchored.distance, client_height, true);
  }
  if (HWND progress = GetDlgItem(window, IDC_PROGRESS)) {
    MoveToTop(progress, client_height - DialogUnitsToPixelsY(window, kProgressBarDistance), -1);
  }
}

void OnGetMinMaxInfo(HWND window, MINMAXINFO* info) {
  // Queries made while the window is being created come before its handle
  // is known; the system's limits stand for them.
  if (g_app.main_window == nullptr || window != g_app.main_window || info == nullptr) return;
  if (g_first_rect.window != window) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) {
      TraceLayoutError("GetWindowRect", GetLastError());
      return;
    }
    g_first_rect.window = window;
    g_first_rect.rect = rect;
  }
  const LONG width = g_first_rect.rect.right - g_first_rect.rect.left;
  const LONG height = g_first_rect.rect.bottom - g_first_rect.rect.top;
  info->ptMinTrackSize.x = width;
  info->ptMaxTrackSize.x = width;
  info->ptMinTrackSize.y = height;
}

}  // namespace shardix
