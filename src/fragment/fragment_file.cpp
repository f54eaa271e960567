#include "fragment/fragment_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "display/display.h"
#include "fragment/placement.h"
#include "fragment/fragment_plan.h"
#include "volume/error_codes.h"
#include "volume/volume.h"

namespace shardix {

namespace {

constexpr uint64_t kLargestCount = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

// What the caller promises: 1 <= N <= T, F >= 1, (N - 1) * F < T, a known
// method. Anything else would give a last fragment of no or negative length.
bool RequestIsSound(uint64_t fragment_count, uint64_t fragment_size, int32_t method,
                    uint64_t cluster_count) {
  return fragment_count >= 1 && fragment_size >= 1 && cluster_count <= kLargestCount &&
         fragment_count <= cluster_count && fragment_count - 1 <= (cluster_count - 1) / fragment_size &&
         method >= 0 && method < kPlacementMethodCount;
}

bool IsRefusedMove(uint32_t code) {
  return code == kErrorAccessDenied || code == kErrorInvalidParameter;
}

// Whether the volume can take and keep the job's moves; the refusal
// (naming the path and what to do) goes to the status line.
bool CanMove(JobContext& context) {
  std::string refusal;
  const uint32_t code = context.volume->PrepareToMove(&refusal);
  if (code == kErrorSuccess) return true;
  context.refusal = refusal.empty() ? ErrorMessage(code) : refusal;
  context.display->SetStatusError(context.refusal);
  return false;
}

// One fragment's move, in as many requests as its length needs.
uint32_t MoveFragment(JobContext& context, int64_t vcn, int64_t lcn, int64_t length) {
  while (length > 0) {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(length, kMaxClustersPerMove));
    context.display->MoveBegins();
    const uint32_t code = context.volume->MoveClusters(*context.file, vcn, lcn, piece);
    context.display->MoveEnds();
    if (code != kErrorSuccess) return code;
    ++context.requests;
    vcn += piece;
    lcn += piece;
    length -= piece;
  }
  return kErrorSuccess;
}

void ShowMoveMessage(Display& display, int64_t index, int64_t target_lcn) {
  char text[kTextBufferSize];
  std::snprintf(text, sizeof text, "Attempting to move file fragment %llu to Volume Cluster %llu",
                static_cast<unsigned long long>(index + 1),
                static_cast<unsigned long long>(target_lcn));
  display.SetStatusText(text);
}

}  // namespace

int FragmentFile(JobContext& context, uint64_t fragment_count, uint64_t fragment_size,
                 int32_t method, uint64_t cluster_count, FragmentPlan* plan) {
  Display& display = *context.display;
  if (!RequestIsSound(fragment_count, fragment_size, method, cluster_count)) {
    display.ShowErrorBox("FragmentFile() Error", kErrorInvalidParameter, BoxOwner::kMainWindow,
                         BoxIcon::kNone);
    return kFragmentFailed;
  }
  if (!context.volume || !context.file) {
    display.ShowErrorBox("FSCTL_GET_VOLUME_BITMAP Error", kErrorInvalidHandle,
                         BoxOwner::kMainWindow, BoxIcon::kNone);
    return kFragmentFailed;
  }
  const bool dry_run = plan && plan->dry_run;
  // A job that could not make its moves last is refused before the first.
  if (!dry_run && !CanMove(context)) return kFragmentFailed;

  const auto count = static_cast<int64_t>(fragment_count);
  const auto size = static_cast<int64_t>(fragment_size);
  FragmentPlanner planner(context, count, size, static_cast<PlacementMethod>(method),
                          static_cast<int64_t>(cluster_count));
  if (planner.Start() != kErrorSuccess) return kFragmentFailed;
  // Planned whole first: a piece that finds no room stops the job before
  // anything has moved.
  int result = planner.PlanAll();
  context.planned = planner.pieces().size();
  if (plan) plan->pieces = planner.pieces();
  if (result != kFragmentSucceeded || dry_run) return result;

  for (int64_t i = 0; i < count;) {
    if (context.StopRequested()) return kJobStopped;
    const PlannedPiece piece = planner.pieces()[static_cast<std::size_t>(i)];
    if (ShowsMoveMessage(static_cast<uint64_t>(i), fragment_count))
      ShowMoveMessage(display, i, piece.lcn);
    const uint32_t code = MoveFragment(context, piece.vcn, piece.lcn, piece.clusters);
    if (code == kErrorSuccess) {
      ++context.moved;
      display.SetProgress(static_cast<uint64_t>(i) + 1);
      ++i;
      continue;
    }
    if (!IsRefusedMove(code)) {
      display.ShowErrorBox("MoveFileFragment() Error", code, BoxOwner::kMainWindow,
                           BoxIcon::kNone);
      return kFragmentFailed;
    }
    // The file system would not take that run: this piece and the rest are
    // planned again on the volume as it is now.
    result = planner.ReplanFrom(static_cast<uint64_t>(i));
    if (result != kFragmentSucceeded) return result;
  }
  return kFragmentSucceeded;
}

}  // namespace shardix
