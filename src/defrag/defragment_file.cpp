#include "defrag/defragment_file.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <thread>
#include <vector>

#include "display/display.h"
#include "report/volume_analysis.h"
#include "volume/error_codes.h"
#include "volume/volume.h"

namespace shardix {

namespace {

constexpr char kMoveCaption[] = "MoveFileFragment() Error";
constexpr char kTableCaption[] = "DefragmentFile() Error";

void ShowMoveTarget(Display& display, uint64_t lcn) {
  char text[kTextBufferSize];
  std::snprintf(text, sizeof text, "Attempting to move file fragment to Volume Cluster %" PRIu64,
                lcn);
  display.SetStatusText(text);
}

// Waits `ms`, in short steps so that a stop request is not held up.
void Pause(const JobContext& context, int ms) {
  for (int waited = 0; waited < ms && !context.StopRequested(); waited += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, ms - waited)));
}

bool IsRefusal(uint32_t code) {
  return code == kErrorAccessDenied || code == kErrorInvalidParameter;
}

// Room for at most (fragments - 1) runs, so the file ends in at most
// fragments - 1 fragments; false (box shown) when it cannot be had.
bool MakeTable(Display& display, int64_t fragment_count, std::vector<FreeRun>* table) {
  const int64_t fragments = static_cast<int32_t>(static_cast<uint32_t>(fragment_count));
  const int64_t table_size = std::max<int64_t>(fragments - 1, 0);
  try {
    table->resize(static_cast<std::size_t>(table_size));
  } catch (const std::exception&) {  // bad_alloc, length_error: the size tells
  }
  if (table->size() == static_cast<std::size_t>(table_size)) return true;
  display.ShowErrorBox(kTableCaption, kErrorNotEnoughMemory, BoxOwner::kMainWindow,
                       BoxIcon::kNone);
  return false;
}

// The longest free runs as the volume shows them now, in `capacity` places
// of the table: 0 when they hold the `remaining` clusters, else the result
// that says why not.
int PlanRuns(JobContext& context, std::vector<FreeRun>& table, uint64_t capacity,
             uint64_t remaining) {
  uint64_t free_total = 0;
  if (AnalyzeVolume(context.volume, *context.display, VolumeAnalysisMode::kQuiet, &free_total,
                    table.data(), capacity) != 0)
    return kDefragmentFailed;
  if (remaining > free_total) return kDefragmentNoSpace;
  uint64_t planned = 0;
  for (uint64_t i = 0; i < capacity; ++i) planned += table[i].length;
  return planned < remaining ? kDefragmentRunsTooShort : 0;
}

}  // namespace

int PlanDefragment(JobContext& context, int64_t fragment_count, uint64_t cluster_count,
                   std::vector<PlannedPiece>* plan) {
  plan->clear();
  if (cluster_count == 0) return 0;
  std::vector<FreeRun> table;
  if (!MakeTable(*context.display, fragment_count, &table)) return kDefragmentFailed;
  if (const int result = PlanRuns(context, table, table.size(), cluster_count)) return result;
  uint64_t vcn = 0;
  for (const FreeRun& run : table) {
    if (vcn == cluster_count) break;
    const uint64_t piece = std::min(run.length, cluster_count - vcn);
    if (piece == 0) continue;
    plan->push_back({static_cast<int64_t>(vcn), static_cast<int64_t>(piece),
                     static_cast<int64_t>(run.lcn)});
    vcn += piece;
  }
  return 0;
}

int DefragmentFile(JobContext& context, int64_t fragment_count, uint64_t cluster_count,
                   const DefragmentLimits& limits) {
  Display& display = *context.display;
  uint64_t next_vcn = 0;  // also the number of clusters moved so far
  uint64_t remaining = cluster_count;
  int64_t moves_done = 0;
  int replans_in_row = 0;
  if (remaining == 0) return 0;

  if (!context.file) {
    display.ShowErrorBox(kMoveCaption, kErrorInvalidHandle, BoxOwner::kMainWindow, BoxIcon::kNone);
    return kDefragmentFailed;
  }
  std::vector<FreeRun> table;
  if (!MakeTable(display, fragment_count, &table)) return kDefragmentFailed;
  const auto table_size = static_cast<int64_t>(table.size());
  // A job whose moves could not be kept is refused before the first.
  if (context.volume) {
    std::string refusal;
    if (const uint32_t code = context.volume->PrepareToMove(&refusal)) {
      context.refusal = refusal.empty() ? ErrorMessage(code) : refusal;
      display.SetStatusError(context.refusal);
      return kDefragmentFailed;
    }
  }

  while (remaining != 0) {
    // Plan: the longest free runs as the volume shows them now.
    if (context.StopRequested()) return kJobStopped;
    const uint64_t capacity = static_cast<uint64_t>(table_size - moves_done);
    if (const int result = PlanRuns(context, table, capacity, remaining)) return result;

    // Move: each piece to the very start of its run, in file order.
    bool refused = false;
    for (uint64_t position = 0; position < capacity && remaining != 0 && !refused; ++position) {
      if (context.StopRequested()) return kJobStopped;
      const FreeRun run = table[position];
      const uint64_t piece = std::min(run.length, remaining);
      ShowMoveTarget(display, run.lcn);
      uint64_t piece_moved = 0;
      while (piece_moved < piece) {
        if (piece_moved != 0 && context.StopRequested()) return kJobStopped;
        const uint32_t request = static_cast<uint32_t>(
            std::min<uint64_t>(piece - piece_moved, limits.max_clusters_per_request));
        display.MoveBegins();
        const uint32_t code =
            context.volume->MoveClusters(*context.file, static_cast<int64_t>(next_vcn),
                                     static_cast<int64_t>(run.lcn + piece_moved), request);
        display.MoveEnds();
        if (code == kErrorSuccess) {
          ++context.requests;
          if (piece_moved == 0) ++context.moved;  // counted as moves_done is, once per piece
          piece_moved += request;
          next_vcn += request;
          remaining -= request;
          replans_in_row = 0;
          display.SetProgress(next_vcn);
          continue;
        }
        if (!IsRefusal(code)) {
          display.ShowErrorBox(kMoveCaption, code, BoxOwner::kMainWindow, BoxIcon::kNone);
          return kDefragmentFailed;
        }
        // Refused: the target or the range cannot be used now. Plan again
        // from here, a bounded number of times, so a file whose moves are
        // always refused does not keep the job busy for good.
        if (replans_in_row >= limits.max_replans_in_row) {
          display.ShowErrorBox(kMoveCaption, code, BoxOwner::kMainWindow, BoxIcon::kNone);
          return kDefragmentFailed;
        }
        if (replans_in_row > 0) Pause(context, limits.replan_pause_ms);
        ++replans_in_row;
        refused = true;
        break;
      }
      // A piece counts as one move, also when a refusal cut it short after
      // some of its requests went through: it is one fragment either way.
      if (piece_moved != 0) ++moves_done;
    }
  }
  return 0;
}

}  // namespace shardix
