// The Defragment job without its thread: what the command prepares, what the
// worker runs, and the outcome line.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/analyze_file.h"
#include "display/job_context.h"

namespace shardix {

// Taken when the command is given.
struct DefragmentJobParams {
  int64_t fragment_count = 0;  // rows of the fragment list
  uint64_t cluster_count = 0;  // the "Max:" value
};

// The command's part, on the window's thread: the progress bar counts
// clusters from 0, "Defragmentation has started..." is shown, and the
// fragment count and cluster count are taken from the last analysis or job.
DefragmentJobParams PrepareDefragmentJob(Display& display, const FileSession& session);

// The worker's part: locks the controls, blanks the After side and the
// list, runs DefragmentFile, writes the outcome, scans the file again into
// `session`, refreshes the list, texts, After value, After bar and "Max:"
// value, and unlocks the controls. Returns DefragmentFile's result; after
// kJobStopped nothing more is shown.
int RunDefragmentJob(JobContext& context, FileSession& session, const DefragmentJobParams& params);

// Both parts one after the other, as the command line runs them.
int RunDefragmentJob(JobContext& context, FileSession& session);

// The status line for a result, and whether it shows as an error.
std::string DefragmentOutcomeText(int result, bool* is_error);

}  // namespace shardix
