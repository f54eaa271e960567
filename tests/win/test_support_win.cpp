#include <windows.h>
#include <commdlg.h>

#include "test_support_win.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "app/main_window_win.h"
#include "app/window_text_win.h"
#include "volume/wide_text.h"

namespace shardix::test {

// ---- Scripted UI -----------------------------------------------------------

void ScriptedUi::Reset() {
  boxes.clear();
  message_box_answer = IDOK;
  open_answers.clear();
  save_answers.clear();
  open_dialogs_shown = 0;
  shell_opened.clear();
  shell_result = 33;
  last_error_ = 0;
}

int ScriptedUi::ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
  return message_box_answer;
}

bool ScriptedUi::Answer(std::deque<FileDialogScript>* answers, OPENFILENAMEW* request, const char* what) {
  last_error_ = 0;
  if (answers->empty()) {
    ADD_FAILURE() << "unexpected " << what << " dialog";
    return false;
  }
  FileDialogScript script = std::move(answers->front());
  answers->pop_front();
  return script(request, &last_error_);
}

bool ScriptedUi::ShowOpenFileDialog(OPENFILENAMEW* request) {
  ++open_dialogs_shown;
  return Answer(&open_answers, request, "open-file");
}

bool ScriptedUi::ShowSaveFileDialog(OPENFILENAMEW* request) {
  return Answer(&save_answers, request, "save-file");
}

HINSTANCE ScriptedUi::ShellOpen(HWND, const char* path) {
  shell_opened.emplace_back(path ? path : "");
  return reinterpret_cast<HINSTANCE>(shell_result);
}

void FillFileBuffer(OPENFILENAMEW* request, const std::string& path) {
  lstrcpynW(request->lpstrFile, WideFromUtf8(path).c_str(), static_cast<int>(request->nMaxFile));
}

std::string FileBufferText(const OPENFILENAMEW* request) { return Utf8FromWide(request->lpstrFile); }

ScriptedUi& TestUi() {
  static ScriptedUi ui;
  return ui;
}

// ---- Dialog watchdog -------------------------------------------------------

namespace {

std::mutex g_watch_mutex;
std::vector<std::string> g_watch_reports;
std::atomic<DWORD> g_watch_timeout{5000};
std::atomic<bool> g_watch_stop{false};
std::thread g_watch_thread;

// Texts of another thread's windows, without waiting on a thread that hangs.
std::string WindowText(HWND window) {
  char text[512] = "";
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG | SMTO_BLOCK, 500, &length)) {
    return "<no answer>";
  }
  return std::string(text, length);
}

BOOL CALLBACK CollectChildText(HWND child, LPARAM out) {
  char class_name[64] = "";
  GetClassNameA(child, class_name, sizeof class_name);
  if (lstrcmpiA(class_name, "Static") == 0) {
    const std::string text = WindowText(child);
    if (!text.empty()) *reinterpret_cast<std::string*>(out) += " | " + text;
  }
  return TRUE;
}

std::string DescribeDialog(HWND dialog) {
  std::string description = "dialog \"" + WindowText(dialog) + "\"";
  EnumChildWindows(dialog, CollectChildText, reinterpret_cast<LPARAM>(&description));
  return description;
}

BOOL CALLBACK CollectOwnDialogs(HWND window, LPARAM out) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  char class_name[16] = "";
  GetClassNameA(window, class_name, sizeof class_name);
  if (lstrcmpA(class_name, "#32770") == 0) reinterpret_cast<std::vector<HWND>*>(out)->push_back(window);
  return TRUE;
}

void WatchDialogs() {
  struct Seen {
    DWORD since;
    int attempts;
  };
  std::map<HWND, Seen> seen;
  while (!g_watch_stop.load()) {
    Sleep(100);
    std::vector<HWND> dialogs;
    EnumWindows(CollectOwnDialogs, reinterpret_cast<LPARAM>(&dialogs));
    std::map<HWND, Seen> still_open;
    const DWORD now = GetTickCount();
    for (HWND dialog : dialogs) {
      auto found = seen.find(dialog);
      Seen entry = found != seen.end() ? found->second : Seen{now, 0};
      const DWORD timeout = g_watch_timeout.load();
      if (now - entry.since >= timeout + static_cast<DWORD>(entry.attempts) * 1000) {
        if (entry.attempts == 0) {
          const std::string report = DescribeDialog(dialog);
          std::fprintf(stderr, "Dialog watchdog: closing %s, left open for %lu ms\n", report.c_str(),
                       static_cast<unsigned long>(now - entry.since));
          std::fflush(stderr);
          std::lock_guard<std::mutex> lock(g_watch_mutex);
          g_watch_reports.push_back(report);
        }
        if (entry.attempts < 2) {
          PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
          if (entry.attempts == 1) PostMessageA(dialog, WM_CLOSE, 0, 0);
        } else {
          std::fprintf(stderr, "Dialog watchdog: %s does not close; ending the test program\n",
                       DescribeDialog(dialog).c_str());
          std::fflush(stderr);
          TerminateProcess(GetCurrentProcess(), kHungDialogExitCode);
        }
        ++entry.attempts;
      }
      still_open[dialog] = entry;
    }
    seen.swap(still_open);
  }
}

}  // namespace

void StartDialogWatchdog() {
  g_watch_stop = false;
  g_watch_thread = std::thread(WatchDialogs);
}

void StopDialogWatchdog() {
  g_watch_stop = true;
  if (g_watch_thread.joinable()) g_watch_thread.join();
}

void SetDialogWatchdogTimeout(DWORD milliseconds) { g_watch_timeout = milliseconds; }
DWORD DialogWatchdogTimeout() { return g_watch_timeout.load(); }

std::vector<std::string> TakeDialogWatchdogReports() {
  std::lock_guard<std::mutex> lock(g_watch_mutex);
  std::vector<std::string> reports;
  reports.swap(g_watch_reports);
  return reports;
}

// ---- Message pump and fixture ----------------------------------------------

bool PumpPendingMessages(HWND dialog) {
  bool quit = false;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
      continue;
    }
    if (dialog != nullptr && IsWindow(dialog) && IsDialogMessageA(dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return quit;
}

void MainWindowTest::SetUp() {
  TestUi().Reset();
  window_ = CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNOACTIVATE);
  ASSERT_NE(window_, nullptr) << "main window not created, error " << GetLastError();
  PumpPendingMessages(window_);
}

void MainWindowTest::TearDown() {
  if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
  // Destruction posts a quit message; take it off so later tests' modal
  // loops are not ended by it.
  PumpPendingMessages(nullptr);
  for (const MessageBoxCall& box : TestUi().boxes) {
    ADD_FAILURE() << "unexpected message box \"" << box.caption << "\": " << box.text;
  }
  for (const std::string& report : TakeDialogWatchdogReports()) {
    ADD_FAILURE() << "the watchdog had to close " << report;
  }
  TestUi().Reset();
}

std::string MainWindowTest::ItemText(int id) const { return DialogItemText(window_, id); }

}  // namespace shardix::test
