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

}  // namespace

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

  // Every plan may use at most (fragments - 1) - moves done runs, so the file
  // ends in at most fragments - 1 fragments.
  const int64_t fragments = static_cast<int32_t>(static_cast<uint32_t>(fragment_count));
  const int64_t table_size = std::max<int64_t>(fragments - 1, 0);
  std::vector<FreeRun> table;
  try {
    table.resize(static_cast<std::size_t>(table_size));
  } catch (const std::exception&) {  // bad_alloc, length_error: the size tells
  }
  if (table.size() != static_cast<std::size_t>(table_size)) {
    display.ShowErrorBox(kTableCaption, kErrorNotEnoughMemory, BoxOwner::kMainWindow,
                         BoxIcon::kNone);
    return kDefragmentFailed;
  }

  while (remaining != 0) {
    // Plan: the longest free runs as the volume shows them now.
    if (context.StopRequested()) return kJobStopped;
    const uint64_t capacity = static_cast<uint64_t>(table_size - moves_done);
    uint64_t free_total = 0;
    if (AnalyzeVolume(context.volume, display, VolumeAnalysisMode::kQuiet, &free_total,
                      table.data(), capacity) != 0)
      return kDefragmentFailed;
    if (remaining > free_total) return kDefragmentNoSpace;
    uint64_t planned = 0;
    for (uint64_t i = 0; i < capacity; ++i) planned += table[i].length;
    if (planned < remaining) return kDefragmentRunsTooShort;

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
