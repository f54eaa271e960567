// The Fragment job without its thread: checking the command's settings and
// sizing the fragments, and the job body that runs FragmentFile and then
// shows the file as it now lies on the "After Fragmentation" side. The
// window's worker thread and the command line both call these.
#pragma once

#include <cstdint>
#include <string>

#include "display/job_context.h"

namespace shardix {

class Display;
struct FileSession;

// What the Fragment command hands to its job.
struct FragmentJobParams {
  uint64_t fragment_count = 0;  // N
  uint64_t cluster_count = 0;   // T, the "Max:" value
  int32_t method = 0;           // a PlacementMethod index
  uint64_t fragment_size = 0;   // F
};

// The fragment-size slider runs from "Small" to "Large".
constexpr int kFragmentSizeSmall = 1;
constexpr int kFragmentSizeLarge = 10;

// A count box's text as "%llu" reads it: leading blanks and a sign
// allowed, digits up to the first other character; 0 when nothing converts.
uint64_t ReadCountText(const std::string& text);

// F = trunc((T / N) * s / 10) in double precision, at least 1.
uint64_t FragmentSizeFor(uint64_t cluster_count, uint64_t fragment_count, int slider);

// The Fragment command's checks and preparation. Reads N from the
// fragment-count text and T from the "Max:" text; when N is not between 1
// and T it writes the refusal with SetStatusError and returns false.
// Otherwise it fills `params`, sets the progress range to 0..N at position
// 0, writes "Fragmentation has started..." and returns true.
bool PrepareFragmentJob(Display& display, const std::string& count_text,
                        const std::string& max_text, int32_t method, int slider,
                        FragmentJobParams* params);

// The status line for a FragmentFile result.
std::string FragmentOutcomeText(int result);

// The job: locks the controls, blanks the After side, runs FragmentFile,
// writes the outcome, rescans the file into `session.results` and the
// fragment list, draws the After side and unlocks the controls. Returns
// FragmentFile's result; on kJobStopped it returns at once, leaving the
// display as it is (the program is closing).
int RunFragmentJob(JobContext& context, FileSession& session, const FragmentJobParams& params);

}  // namespace shardix
