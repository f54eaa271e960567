// Gathering a file back into fewer fragments: its clusters, from the first
// onward, go to the start of the volume's longest free runs, one run after
// the other.
#pragma once

#include <cstdint>
#include <vector>

#include "display/job_context.h"

namespace shardix {

// What DefragmentFile returns besides 0 (every cluster moved) and
// kJobStopped.
constexpr int kDefragmentNoSpace = -1;       // fewer free clusters than the file has
constexpr int kDefragmentRunsTooShort = -2;  // the allowed longest free runs cannot hold it
constexpr int kDefragmentFailed = -3;        // a move or the analysis failed (box shown)

struct DefragmentLimits {
  // Moves refused with 5 or 87 that may lead to a new plan one after the
  // other, without a successful move between them.
  int max_replans_in_row = 64;
  // Pause before each of those new plans after the first: clusters that a
  // move has just freed show free at once but take new data only after the
  // file system's next checkpoint, so planning again at once would only be
  // refused again.
  int replan_pause_ms = 50;
  // Clusters per move request: the request's count field holds 32 bits, so
  // a longer piece goes in several requests, one after the other on the
  // volume.
  uint32_t max_clusters_per_request = 0xFFFFFFFFu;
};

// Moves the file of `context` into at most fragment_count - 1 fragments.
// `fragment_count` is the number of fragments the file has now (its low 32
// bits count), `cluster_count` its length in clusters. The status line shows
// each move's target and the progress bar the clusters moved so far. Moves
// already made stay made whatever the result.
// Before its first move it asks the volume whether the moves can be made
// and kept; a refusal goes to the status line and context.refusal.
int DefragmentFile(JobContext& context, int64_t fragment_count, uint64_t cluster_count,
                   const DefragmentLimits& limits = {});

// The plan DefragmentFile starts from, without moving anything: the pieces
// in file order, each to the start of one of the longest free runs.
// Returns 0 or one of DefragmentFile's results; a run of the job that no
// move of it finds refused makes exactly these moves.
int PlanDefragment(JobContext& context, int64_t fragment_count, uint64_t cluster_count,
                   std::vector<PlannedPiece>* plan);

}  // namespace shardix
