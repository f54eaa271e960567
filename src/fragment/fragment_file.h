// The fragmentation planner and mover: splits the analysed file into a
// requested number of fragments and moves each to a free run of the volume
// chosen by a placement method. It runs on the Fragment job's worker thread
// (or straight from the command line) and reports through the job's display.
#pragma once

#include <cstdint>
#include <vector>

#include "display/job_context.h"
#include "fragment/fragment_plan.h"

namespace shardix {

// FragmentFile's results.
constexpr int kFragmentSucceeded = 0;
constexpr int kFragmentNoRoom = -1;   // a first-fit search reached the end of the bitmap
constexpr int kFragmentFailed = -2;   // a request failed; its message box has been shown

// A move request carries its cluster count in a 32-bit field, so a longer
// fragment is moved in pieces of at most this many clusters.
constexpr uint64_t kMaxClustersPerMove = 0xFFFFFFFFu;

// Random attempts per fragment before the search falls back to a scan
// from the start of the volume.
constexpr uint64_t kRandomAttempts = 10;

// The plan of a job, for showing it; with `dry_run` only planned.
struct FragmentPlan {
  bool dry_run = false;
  std::vector<PlannedPiece> pieces;  // in file order; as far as it got when not every piece fits
};

// Moves fragment i (i = 0 .. fragment_count - 1), the clusters from VCN
// i * fragment_size, fragment_size long except the last, which takes the
// rest of the `cluster_count` clusters. `method` is a PlacementMethod index.
// First asks the volume whether the moves can be made and kept (a refusal
// goes to the status line and context.refusal), then plans every piece;
// nothing moves unless every piece found room (context.planned says how
// many did). Returns kFragmentSucceeded, kFragmentNoRoom, kFragmentFailed,
// or kJobStopped when the context asked it to stop between moves. Moves
// that succeeded stay done whatever the result. With `plan`, the plan made
// at the start is handed back.
int FragmentFile(JobContext& context, uint64_t fragment_count, uint64_t fragment_size,
                 int32_t method, uint64_t cluster_count, FragmentPlan* plan = nullptr);

}  // namespace shardix
