#include "cli/stop_signals.h"

#include <csignal>

#ifdef _WIN32
#include <io.h>
#define SHARDIX_WRITE_ERR(text, size) _write(2, text, size)
#else
#include <unistd.h>
#define SHARDIX_WRITE_ERR(text, size) (void)!write(2, text, size)
#endif

namespace shardix::cli {

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};

extern "C" void OnStopSignal(int number) {
  // The Windows runtime resets a handler when it runs; a second Ctrl+C
  // must still wait for the move in flight.
  std::signal(number, OnStopSignal);
  int expected = 0;
  g_signal.compare_exchange_strong(expected, number);
  g_stop.store(true);
  static const char kNote[] = "\nStopping after the move in flight...\n";
  SHARDIX_WRITE_ERR(kNote, sizeof kNote - 1);
}

}  // namespace

const std::atomic<bool>* InstallStopSignals() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#ifdef SIGBREAK
  std::signal(SIGBREAK, OnStopSignal);  // Ctrl+Break and closing the console
#endif
  return &g_stop;
}

int StopExitStatus() {
  const int number = g_signal.load();
  if (number == SIGTERM) return 128 + 15;
  return 128 + 2;  // SIGINT, and Windows' Ctrl+Break / console close alike
}

std::string StoppedText(unsigned long long done, unsigned long long total, const char* unit) {
  return "Stopped: " + std::to_string(done) + " of " + std::to_string(total) + " " + unit +
         " moved";
}

}  // namespace shardix::cli
