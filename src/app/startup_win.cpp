// Start-up of the program and its message loop.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "app/app_state_win.h"
#include "app/controls/fragment_list_win.h"
#include "app/main_window_win.h"
#include "app/ui_services_win.h"
#include "fragment/random.h"
#include "resource.h"

namespace shardix {
namespace {

// Start-up goes on past these failures (the window creation that follows
// fails on its own if they matter), so they go to the debugger output.
void TraceSystemError(const char* call, DWORD code) {
  char message[kTextBufferSize];
  SystemErrorText(code, message, sizeof message);
  char line[kTextBufferSize + 64];
  std::snprintf(line, sizeof line, "Shardix: %s failed: %s\n", call, message);
  OutputDebugStringA(line);
}

void RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.style = 0;
  window_class.lpfnWndProc = MainWndProc;
  window_class.cbClsExtra = 0;
  // The room that a window made from a dialog template needs.
  window_class.cbWndExtra = DLGWINDOWEXTRA;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, L"" SHARDMILL_NAME);
  window_class.hIconSm = window_class.hIcon;
  window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszMenuName = nullptr;
  window_class.lpszClassName = L"" SHARDMILL_NAME;
  if (RegisterClassExW(&window_class) == 0) {
    const DWORD error = GetLastError();
    // A second main window in the same process (the tests make many) finds
    // the class in place.
    if (error != ERROR_CLASS_ALREADY_EXISTS) TraceSystemError("RegisterClassExW", error);
  }
}

HBRUSH MakeBrush(COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  if (brush == nullptr) TraceSystemError("CreateSolidBrush", GetLastError());
  return brush;
}

}  // namespace

HWND CreateMainWindow(HINSTANCE instance, int show) {
  InitCommonControls();
  g_app.instance = instance;
  RegisterMainWindowClass(instance);

  g_app.white_brush = MakeBrush(RGB(255, 255, 255));
  g_app.blue_brush = MakeBrush(RGB(0, 0, 255));
  g_app.red_brush = MakeBrush(RGB(255, 0, 0));

  // A wide window and wide controls: the file name box takes any name.
  HWND window = CreateDialogParamW(instance, L"" SHARDMILL_NAME, nullptr, nullptr, 0);
  if (window == nullptr) {
    TraceSystemError("CreateDialogParamW", GetLastError());
    Ui().ShowMessageBox(nullptr, "Unable to run application.", "Error", MB_OK);
    return nullptr;
  }
  g_app.main_window = window;

  SendDlgItemMessageA(window, IDC_FRAGMENT_COUNT_UPDOWN, UDM_SETBUDDY,
                      reinterpret_cast<WPARAM>(GetDlgItem(window, IDC_FRAGMENT_COUNT)), 0);
  InitFragmentSizeSlider(window, 1, 10, 1, 10);
  InitPlacementMethods(window);
  SetFragmentCountRange(window, 0, 0, 0);
  InitFragmentList(window);
  SeedRandom(TimeSeed());

  ShowWindow(window, show);
  return window;
}

int RunMessageLoop() {
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) {
      ReportSystemError(nullptr, "GetMessage() Error", GetLastError(), MB_ICONERROR);
      return 1;
    }
    // The main window may be gone while messages of other windows remain.
    if (g_app.main_window != nullptr && IsDialogMessageW(g_app.main_window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int RunApplication(HINSTANCE instance, int show) {
  if (CreateMainWindow(instance, show) == nullptr) return 1;
  return RunMessageLoop();
}

}  // namespace shardix
