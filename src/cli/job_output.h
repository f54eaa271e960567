// Output shared by the two job commands (fragment, defragment): the
// refused analysis, and the result as text or one JSON object
// {"result", "status", "before", "after", "moved"} (fragment adds
// "requested" and "seed"), saying in words where the result differs from
// what was asked.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/analyze_file.h"
#include "cli/terminal_display.h"

namespace shardix::cli {

// The placement methods by the names the command line takes
// (concentrated, scattered, random, first-fit; also firstfit and first_fit,
// in any case).
bool PlacementMethodByName(std::string name, int32_t* method);
std::string PlacementMethodName(int32_t method);

// How a job command prints, and what it was asked.
struct JobOutput {
  bool json = false;
  bool quiet = false;   // only the result
  bool colour = false;
  std::string before;   // the analysis object of before the job
  bool fragment = false;  // a fragment job: requested, seed and the count note
  uint64_t requested = 0;
  bool requested_fits = true;  // false for a count beyond 64 bits
  uint32_t seed = 0;
  bool seed_drawn = false;  // printed as "Seed: N", since no one else knows it
  bool first_fit = false;
};

// The JSON object; `result` and `after` may be null (no job ran).
void PrintJobJson(const JobOutput& output, const int* result, const std::string& status,
                  const std::string* after, uint64_t moved);

// The analysis that refused the job; returns the exit status for it.
int PrintRefusedAnalysis(const JobOutput& output, const TerminalDisplay& analysis,
                         const FileSession& session, const std::string& path);

// Refuses a job on an image that something else has mounted or holds
// (status and JSON as for any refusal); returns true when it refused.
bool RefuseImageInUse(const std::string& path, const char* command, const JobOutput& output);

// A job stopped by SIGINT or SIGTERM: "Stopped: N of M <unit> moved" as
// the status (text, or JSON with `after` null); returns the exit status.
int PrintStoppedJob(const JobOutput& output, const TerminalDisplay& job, const char* unit,
                    uint64_t moved);

// The finished job: its After side and what happened, in words.
void PrintJobResult(const JobOutput& output, const TerminalDisplay& job,
                    const FileSession& session, int result, uint64_t moved);

// The sentences that say how a job's result differs from what was asked
// ("" when it does not).
std::string JobOutcomeNote(const JobOutput& output, int result, uint64_t moved,
                           uint64_t fragments_now);

}  // namespace shardix::cli
