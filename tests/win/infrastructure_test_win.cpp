// The safety nets of the test programs themselves: a dialog left open is
// closed and reported, and a crash ends the program with its own code (the
// crash case runs only when asked for, from its own ctest entry).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_support_win.h"

namespace shardix::test {
namespace {

TEST(DialogWatchdog, ClosesALeftoverBoxAndReportsItsText) {
  const DWORD timeout = DialogWatchdogTimeout();
  SetDialogWatchdogTimeout(300);
  TakeDialogWatchdogReports();
  // A real box, straight from the system: only the watchdog ends it.
  const int answer = MessageBoxA(nullptr, "Nobody will press OK.", "Left open", MB_OK);
  SetDialogWatchdogTimeout(timeout);

  EXPECT_EQ(answer, IDCANCEL);
  const auto reports = TakeDialogWatchdogReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("Left open"), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("Nobody will press OK."), std::string::npos) << reports[0];
}

TEST(CrashReport, DISABLED_AccessViolationEndsTheProgramWithItsCode) {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}

}  // namespace
}  // namespace shardix::test
