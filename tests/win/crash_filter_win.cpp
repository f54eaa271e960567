#include <windows.h>

#include <cstdio>

#include "crash_filter_win.h"

namespace shardix::test {
namespace {

LONG WINAPI ReportUnhandledException(EXCEPTION_POINTERS* info) {
  std::fprintf(stderr, "Unhandled exception 0x%08lX at %p; exit code %d\n",
               static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
               info->ExceptionRecord->ExceptionAddress, kCrashExitCode);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Installed before main() runs, so no test program can forget it.
const bool g_filter_installed = [] {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(ReportUnhandledException);
  return true;
}();

}  // namespace
}  // namespace shardix::test
