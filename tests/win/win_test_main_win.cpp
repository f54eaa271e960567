// main() of the Win32 program's tests: its boxes and dialogs are scripted,
// and the watchdog keeps a forgotten dialog from hanging the run (crashes are
// crash_filter_win.cpp's).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_support_win.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);

  shardix::SetUiServices(&shardix::test::TestUi());
  shardix::test::StartDialogWatchdog();
  int result = RUN_ALL_TESTS();
  shardix::test::StopDialogWatchdog();
  shardix::SetUiServices(nullptr);
  // Dialogs closed outside a window test's fixture, which would report them.
  for (const std::string& report : shardix::test::TakeDialogWatchdogReports()) {
    std::fprintf(stderr, "FAILED: the watchdog had to close %s\n", report.c_str());
    result = 1;
  }
  return result;
}
