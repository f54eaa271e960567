#include "app/jobs/status_animator_win.h"

#include <atomic>
#include <cstring>

#include "app/app_state_win.h"
#include "display/text_util.h"
#include "app/ui_services_win.h"
#include "app/window_display_win.h"
#include "app/window_text_win.h"
#include "resource.h"

namespace shardix {
namespace {

constexpr int kMostDots = 31;

std::atomic<DWORD> g_period{1000};
// The window whose status line the moves in progress belong to.
std::atomic<HWND> g_animated_window{nullptr};
// Dots appended to the current message; touched on the window thread only.
int g_dot_count = 0;

bool GateOpen() {
  return g_app.animator_gate != nullptr && WaitForSingleObject(g_app.animator_gate, 0) == WAIT_OBJECT_0;
}

// On the window thread: the whole read-append-write, while a move is still
// in progress.
void AppendDotWhileMoving(HWND window) {
  if (!GateOpen()) return;
  // Room for the status line's 511 characters in UTF-8 and the dot.
  char text[kTextBufferBytes + 2] = "";
  const std::string shown = DialogItemText(window, IDC_STATUS);
  shown.copy(text, sizeof text - 2);
  if (AppendStatusDot(text, sizeof text, &g_dot_count)) SetDialogItemText(window, IDC_STATUS, text);
}

void ReportFromAnyThread(HWND window, const char* caption, DWORD code) {
  RunOnWindowThread(window, [&] { ReportSystemError(window, caption, code, MB_ICONERROR); });
}

}  // namespace

bool AppendStatusDot(char* text, std::size_t size, int* dot_count) {
  const std::size_t length = std::strlen(text);
  if (length == 0) return false;
  if (text[length - 1] != '.') *dot_count = 0;
  if (*dot_count >= kMostDots || length + 2 > size) return false;
  text[length] = '.';
  text[length + 1] = '\0';
  ++*dot_count;
  return true;
}

void SetStatusAnimatorPeriod(DWORD milliseconds) { g_period = milliseconds; }

DWORD WINAPI StatusAnimator(LPVOID) {
  for (;;) {
    if (WaitForSingleObject(g_app.animator_gate, INFINITE) == WAIT_FAILED) {
      ReportFromAnyThread(g_animated_window.load(), "WaitForSingleObject() Error", GetLastError());
      return 0;  // the jobs go on without the dots
    }
    Sleep(g_period.load());
    if (HWND window = g_animated_window.load()) {
      RunOnWindowThread(window, [window] { AppendDotWhileMoving(window); });
    }
  }
}

void EnsureStatusAnimator() {
  if (g_app.status_animator != nullptr) return;
  if (g_app.animator_gate == nullptr) {
    g_app.animator_gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // manual reset, closed
    if (g_app.animator_gate == nullptr) {
      ReportSystemError(g_app.main_window, "CreateEvent() Error", GetLastError(), 0);
      return;
    }
  }
  DWORD id = 0;
  g_app.status_animator = CreateThread(nullptr, 0, StatusAnimator, nullptr, 0, &id);
  if (g_app.status_animator == nullptr) ReportSystemError(g_app.main_window, "CreateThread() Error", GetLastError(), 0);
}

void OpenStatusAnimatorGate(HWND window) {
  if (g_app.animator_gate == nullptr) return;  // no animator: no dots
  g_animated_window = window;
  if (!SetEvent(g_app.animator_gate)) ReportFromAnyThread(window, "SetEvent() Error", GetLastError());
}

void CloseStatusAnimatorGate(HWND window) {
  if (g_app.animator_gate == nullptr) return;
  if (!ResetEvent(g_app.animator_gate)) ReportFromAnyThread(window, "ResetEvent() Error", GetLastError());
}

}  // namespace shardix
