// Output shared by the two job commands (fragment, defragment): the
// refused analysis, and the result as text or one JSON object (see
// docs/json.md), saying in words where the result differs from what was
// asked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analyze_file.h"
#include "cli/terminal_display.h"
#include "display/job_context.h"
#include "fragment/placement_names.h"

namespace shardix::cli {

// How a job command prints, and what it was asked.
struct JobOutput {
  bool json = false;
  bool quiet = false;   // only the result
  bool colour = false;
  std::string command;  // "fragment" or "defragment"
  std::string path;     // as typed
  Json before;          // the analysis object of before the job (null: none)
  bool fragment = false;  // a fragment job: requested, seed and the count note
  uint64_t requested = 0;
  uint32_t seed = 0;
  bool seed_drawn = false;  // printed as "Seed: N", since no one else knows it
  bool first_fit = false;
  int32_t method = 0;
  uint64_t fragment_size = 0;  // F, and T: the pieces' lengths
  uint64_t cluster_count = 0;
  bool dry_run = false;
  // How the job ended, besides its result: pieces its plan placed, and the
  // error that kept moves from the disk at the end (0: all reached it).
  uint64_t planned = 0;
  uint32_t write_error = 0;
  bool refused = false;  // refused before the first move; the status says why
  std::string volume_name;  // as the volume names itself, for the write-back note
};

// How a job ended, for --json: "done", "partial" (some pieces moved, then
// it failed), "refused" (nothing was tried), "stopped" (by a signal) or
// "failed" (it tried and moved nothing), with the error unless done.
struct JobEnd {
  std::string outcome;
  JsonError error;
  bool told = false;  // the error is on stderr already (an error box)
};
// The end of a job that ran (or planned) and returned `result`, `moved`
// of its pieces on the disk.
JobEnd JobEndOf(const JobOutput& output, const TerminalDisplay& job, int result, uint64_t moved);

// The JSON object; `after` is null when no job ran. A dry run adds its
// "plan": [{number, clusters, lcn}]. An error goes to stderr too, in words.
void PrintJobJson(const JobOutput& output, const JobEnd& end, const std::string& status,
                  const Json& after, uint64_t moved,
                  const std::vector<PlannedPiece>* plan = nullptr);

// An error status ("Error: ...") said once on stderr, unless `echoed` (the
// live status line there showed it); true when it is an error.
bool ReportErrorStatus(const std::string& status, bool echoed);

// "Dry run: N pieces planned; nothing was moved."
std::string DryRunStatus(uint64_t pieces);

// A dry run: the plan, piece by piece in file order, with the status and
// what a run would do; returns the exit status (0 when every piece has a
// place).
int PrintPlan(const JobOutput& output, const TerminalDisplay& job, const std::string& status,
              const std::vector<PlannedPiece>& plan, int result);

// The analysis that refused the job; returns the exit status for it.
int PrintRefusedAnalysis(const JobOutput& output, const TerminalDisplay& analysis,
                         const FileSession& session, const std::string& path);

// Refuses a job on an image that something else has mounted or holds
// (status and JSON as for any refusal); returns true when it refused.
bool RefuseImageInUse(const std::string& path, const char* command, const JobOutput& output);

// For a dry run: images are then opened only for reading.
void OpenForPlanningOnly();

// After a job whose moves did not all reach the disk: lets the mount go and
// reads the file again from the image, onto the job's After side.
void RereadAfterFailedWrites(const std::string& path, FileSession& session, TerminalDisplay& job);

// A job stopped by SIGINT or SIGTERM: "Stopped: N of M <unit> moved" as
// the status (text, or JSON with `after` null); returns the exit status.
int PrintStoppedJob(const JobOutput& output, const TerminalDisplay& job, const char* unit,
                    uint64_t moved);

// The finished job: its After side and what happened, in words; an error
// status on stderr.
void PrintJobResult(const JobOutput& output, const TerminalDisplay& job,
                    const FileSession& session, int result, uint64_t moved);

// The sentences that say how a job's result differs from what was asked
// ("" when it does not); `moved` counts the moves that reached the disk.
std::string JobOutcomeNote(const JobOutput& output, int result, uint64_t moved,
                           uint64_t fragments_now);

}  // namespace shardix::cli
