// Output shared by the two job commands (fragment, defragment): the
// refused analysis, and the result as text or one JSON object
// {"result", "status", "before", "after"}.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/analyze_file.h"
#include "cli/terminal_display.h"

namespace shardix::cli {

// The placement methods by the names the command line takes
// (concentrated, scattered, random, first-fit).
bool PlacementMethodByName(const std::string& name, int32_t* method);
std::string PlacementMethodName(int32_t method);

// `result` and `after` may be null (no job ran).
void PrintJobJson(const int* result, const std::string& status, const std::string& before,
                  const std::string* after);

// The analysis that refused the job; returns the exit status for it.
int PrintRefusedAnalysis(const TerminalDisplay& analysis, const FileSession& session,
                         const std::string& path, const std::string& before, bool json,
                         bool colour);

// The finished job's After side.
void PrintJobResult(const TerminalDisplay& job, const FileSession& session, int result,
                    const std::string& before, bool json, bool colour);

}  // namespace shardix::cli
