// shardix_window_driver: works a running Shardix.exe from outside, the way
// a user would, so that scripts/screenshot-after-fragment.sh can capture the
// main window after a fragmentation. Not a ctest test.
//
//   shardix_window_driver FILE [COUNT] [METHOD]
//
// Finds the window "Quorvane Shardix", types FILE into the file name box,
// clicks Analyze File, sets the fragment count (default 12) and the placement
// method (index into the combo box, default 1 = "Scattered"), clicks Fragment
// and waits until the status line says the file was fragmented. Exits 0 on
// success, 1 with a message on stderr otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "resource.h"

namespace {

constexpr char kWindowTitle[] = "Quorvane Shardix";
constexpr char kFragmentedStatus[] = "File was successfully fragmented!";
constexpr DWORD kFindWindowMs = 30000;
constexpr DWORD kAnalyzeMs = 30000;
constexpr DWORD kFragmentMs = 120000;
constexpr UINT kSendTimeoutMs = 30000;

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "shardix_window_driver: %s\n", message.c_str());
  std::exit(1);
}

HWND Control(HWND window, int id) {
  HWND control = GetDlgItem(window, id);
  if (control == nullptr) Fail("the main window has no control " + std::to_string(id));
  return control;
}

// SendMessage with a time limit, so a window that hangs (or shows a modal
// box in the middle of a command) ends the driver instead of blocking it.
LRESULT Send(HWND target, UINT message, WPARAM wparam, LPARAM lparam, const char* what) {
  DWORD_PTR result = 0;
  if (SendMessageTimeoutA(target, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) == 0) {
    Fail(std::string("no answer from the window to ") + what + " (error " + std::to_string(GetLastError()) + ")");
  }
  return static_cast<LRESULT>(result);
}

std::string ControlText(HWND window, int id) {
  char text[1024] = "";
  Send(Control(window, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), "WM_GETTEXT");
  text[sizeof text - 1] = '\0';
  return text;
}

void SetControlText(HWND window, int id, const std::string& text) {
  if (!Send(Control(window, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), "WM_SETTEXT")) {
    Fail("could not set the text of control " + std::to_string(id));
  }
}

void Click(HWND window, int id, const char* name) {
  if (!IsWindowEnabled(Control(window, id))) Fail(std::string("the button ") + name + " is disabled");
  Send(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(window, id)), name);
}

HWND FindMainWindow() {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindWindowA(nullptr, kWindowTitle);
    if (window != nullptr) return window;
    if (GetTickCount() - start > kFindWindowMs) Fail(std::string("no window titled \"") + kWindowTitle + "\" appeared");
    Sleep(100);
  }
}

// Polls the status line until `done` says it is finished; a status that
// begins with "Error" (the window's own mark of a failure) ends the wait.
template <typename Done>
std::string AwaitStatus(HWND window, DWORD timeout_ms, const char* step, Done done) {
  const DWORD start = GetTickCount();
  std::string status;
  for (;;) {
    status = ControlText(window, IDC_STATUS);
    if (status.rfind("Error", 0) == 0) Fail(std::string(step) + " failed: " + status);
    if (done(status)) return status;
    if (GetTickCount() - start > timeout_ms) {
      Fail(std::string(step) + " did not finish within " + std::to_string(timeout_ms / 1000) +
           " s; the status line reads \"" + status + "\"");
    }
    Sleep(100);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: shardix_window_driver FILE [COUNT] [METHOD]\n");
    return 2;
  }
  const std::string file = argv[1];
  const std::string count = argc > 2 ? argv[2] : "12";
  const int method = argc > 3 ? std::atoi(argv[3]) : 1;

  HWND window = FindMainWindow();

  SetControlText(window, IDC_FILE_NAME, file);
  Click(window, IDC_ANALYZE_FILE, "Analyze File");
  // Analyze File runs on the window thread: once the click returns, the
  // file name box of the results shows the file, or the status an error.
  AwaitStatus(window, kAnalyzeMs, "Analyze File",
              [&](const std::string&) { return !ControlText(window, IDC_FILE_NAME_VALUE).empty(); });
  std::printf("Analyzed %s: %s, max %s fragments\n", file.c_str(), ControlText(window, IDC_FILE_SIZE_VALUE).c_str(),
              ControlText(window, IDC_MAX_VALUE).c_str());

  SetControlText(window, IDC_FRAGMENT_COUNT, count);
  if (Send(Control(window, IDC_PLACEMENT_METHOD), CB_SETCURSEL, method, 0, "CB_SETCURSEL") == CB_ERR) {
    Fail("the placement method list has no entry " + std::to_string(method));
  }
  Click(window, IDC_FRAGMENT, "Fragment");
  AwaitStatus(window, kFragmentMs, "Fragment",
              [](const std::string& status) { return status == kFragmentedStatus; });
  std::printf("Fragmented into %s fragments: %s\n", count.c_str(), kFragmentedStatus);
  return 0;
}
