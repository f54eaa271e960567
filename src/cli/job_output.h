// Output shared by the two job commands (fragment, defragment): the
// refused analysis, and the result as text or one JSON object
// {"result", "status", "before", "after"}.
#pragma once

#include <string>

#include "analysis/analyze_file.h"
#include "cli/terminal_display.h"

namespace shardix::cli {

// `result` and `after` may be null (no job ran).
void PrintJobJson(const int* result, const std::string& status, const std::string& before,
                  const std::string* after);

// The analysis that refused the job; returns the exit status for it.
int PrintRefusedAnalysis(const TerminalDisplay& analysis, const FileSession& session,
                         const std::string& path, const std::string& before, bool json,
                         bool colour);

// Refuses a job on an image that something else has mounted or holds
// (status and JSON as for any refusal); returns true when it refused.
bool RefuseImageInUse(const std::string& path, const char* command, bool json);

// A job stopped by SIGINT or SIGTERM: "Stopped: N of M <unit> moved" as
// the status (text, or JSON with `after` null); returns the exit status.
int PrintStoppedJob(const TerminalDisplay& job, const char* unit, const std::string& before,
                    bool json);

// The finished job's After side.
void PrintJobResult(const TerminalDisplay& job, const FileSession& session, int result,
                    const std::string& before, bool json, bool colour);

}  // namespace shardix::cli
