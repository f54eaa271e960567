// Support for the test programs that run the Win32 program in-process under
// Wine or Windows: scripted answers for its boxes and file dialogs, a
// watchdog that closes a dialog left open, and a fixture that makes a fresh
// main window for each test.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/ui_services_win.h"
#include "crash_filter_win.h"

namespace shardix::test {

// Exit code when a dialog could not be closed and the program had to end.
constexpr int kHungDialogExitCode = 228;

struct MessageBoxCall {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};

// A file dialog's answer: fills the request as the dialog would and returns
// whether a file was chosen; `error` is what CommDlgExtendedError gives then.
using FileDialogScript = std::function<bool(OPENFILENAMEW* request, DWORD* error)>;

// Stands in for every box and dialog of the program. Boxes are recorded and
// answered with `message_box_answer`; file dialogs take the scripted answers
// in order (a dialog with no answer left fails the test and is cancelled).
class ScriptedUi : public UiServices {
 public:
  void Reset();

  int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
  bool ShowOpenFileDialog(OPENFILENAMEW* request) override;
  bool ShowSaveFileDialog(OPENFILENAMEW* request) override;
  DWORD LastFileDialogError() override { return last_error_; }
  HINSTANCE ShellOpen(HWND owner, const char* path) override;

  std::vector<MessageBoxCall> boxes;
  int message_box_answer = IDOK;
  std::deque<FileDialogScript> open_answers;
  std::deque<FileDialogScript> save_answers;
  int open_dialogs_shown = 0;
  std::vector<std::string> shell_opened;
  // What ShellOpen answers: above 32 for success, else the shell's error.
  INT_PTR shell_result = 33;

 private:
  bool Answer(std::deque<FileDialogScript>* answers, OPENFILENAMEW* request, const char* what);
  DWORD last_error_ = 0;
};

// What a file dialog answers: `path` (UTF-8) in the request's buffer, cut to
// its size as the dialog would.
void FillFileBuffer(OPENFILENAMEW* request, const std::string& path);
// The request's buffer in UTF-8.
std::string FileBufferText(const OPENFILENAMEW* request);

// The process's scripted UI, installed by the test program's main().
ScriptedUi& TestUi();

// The watchdog closes a visible dialog (#32770) of this process that stays
// open longer than the timeout and keeps its caption and texts as a report.
void StartDialogWatchdog();
void StopDialogWatchdog();
void SetDialogWatchdogTimeout(DWORD milliseconds);
DWORD DialogWatchdogTimeout();
std::vector<std::string> TakeDialogWatchdogReports();

// Dispatches the thread's pending messages as the program's loop does
// (dialog keys through IsDialogMessageA). Returns whether a quit message
// was among them (it is taken off the queue).
bool PumpPendingMessages(HWND dialog);

// A fresh main window for each test, destroyed afterwards; fails the test
// on a box nobody expected or a dialog the watchdog had to close.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  HWND Item(int id) const { return GetDlgItem(window_, id); }
  std::string ItemText(int id) const;

  HWND window_ = nullptr;
};

}  // namespace shardix::test
