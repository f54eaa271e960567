// Clean stops for the job commands: SIGINT and SIGTERM (on Windows Ctrl+C,
// Ctrl+Break and closing the console) ask the job to stop after the move in
// flight instead of ending the process mid-move.
#pragma once

#include <atomic>
#include <string>

namespace shardix::cli {

// Installs the handlers; returns the flag they set, for JobContext.
const std::atomic<bool>* InstallStopSignals();

// The exit status for the signal that asked to stop: 130 for SIGINT, 143
// for SIGTERM (128 + the number, as shells report a death by signal).
int StopExitStatus();

// "Stopped: N of M fragments moved" (the unit is the job's: fragments or
// clusters), on stdout unless `json`, and what the job returns in JSON.
std::string StoppedText(unsigned long long done, unsigned long long total, const char* unit);

}  // namespace shardix::cli
