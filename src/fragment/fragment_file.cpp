#include "fragment/fragment_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "display/display.h"
#include "fragment/placement.h"
#include "fragment/bitmap_windows.h"
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

void ReportLaterBitmapFailure(Display& display, uint32_t code) {
  display.ShowErrorBox("FSCTL_GET_VOLUME_BITMAP", code, BoxOwner::kNone, BoxIcon::kError);
}

// One fragment's move, in as many requests as its length needs.
uint32_t MoveFragment(JobContext& context, int64_t vcn, int64_t lcn, int64_t length) {
  while (length > 0) {
    const auto piece = static_cast<uint32_t>(std::min<uint64_t>(length, kMaxClustersPerMove));
    context.display->MoveBegins();
    const uint32_t code = context.volume->MoveClusters(*context.file, vcn, lcn, piece);
    context.display->MoveEnds();
    if (code != kErrorSuccess) return code;
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
                 int32_t method, uint64_t cluster_count) {
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
  const auto placement = static_cast<PlacementMethod>(method);
  ShardixRandom& random = context.random ? *context.random : ProcessRandom();
  const auto count = static_cast<int64_t>(fragment_count);
  const auto size = static_cast<int64_t>(fragment_size);
  const auto total = static_cast<int64_t>(cluster_count);

  BitmapWindows bitmap;
  uint32_t code = bitmap.Probe(*context.volume);
  if (code != kErrorSuccess) {
    display.ShowErrorBox("FSCTL_GET_VOLUME_BITMAP Error", code, BoxOwner::kMainWindow,
                         BoxIcon::kNone);
    return kFragmentFailed;
  }
  const int64_t bitmap_bytes = bitmap.whole_bytes();

  // Carried from fragment to fragment: where the last scan stopped, and the
  // byte of the previous fragment's target.
  BitPosition resume;
  int64_t last_byte = 0;

  for (int64_t i = 0; i < count; ++i) {
    const int64_t length = i == count - 1 ? total - (count - 1) * size : size;
    bitmap.Forget();  // each fragment looks at the volume as it is now
    for (uint64_t attempt = 1;; ++attempt) {
      if (context.StopRequested()) return kJobStopped;
      BitPosition candidate;
      if (attempt > kRandomAttempts || placement == PlacementMethod::kFirstFit) {
        // The fallback starts over from cluster 0 once, then, like First
        // Fit, carries on from where the previous scan stopped, so every
        // such scan ends further on and the search reaches the end.
        const bool restart = placement != PlacementMethod::kFirstFit &&
                             attempt == kRandomAttempts + 1;
        candidate = restart ? BitPosition{} : resume;
        if (candidate.byte >= bitmap_bytes) return kFragmentNoRoom;
      } else {
        auto drawn = DrawCandidate(placement, static_cast<uint64_t>(i), last_byte, bitmap_bytes,
                                   length, random);
        if (!drawn) continue;
        candidate = *drawn;
      }
      candidate = AlignCandidate(candidate, length);
      int64_t unusable = candidate.Cluster();
      const int64_t reach = ScanReachEnd(candidate, length, bitmap_bytes);
      if ((code = bitmap.FindInUse(*context.volume, unusable, reach, &unusable)) != kErrorSuccess) {
        ReportLaterBitmapFailure(display, code);
        return kFragmentFailed;
      }
      const ScanOutcome scan = ScanOutcomeAt(candidate, length, bitmap_bytes, unusable);
      resume = scan.stop;
      if (!scan.free) continue;

      if (ShowsMoveMessage(static_cast<uint64_t>(i), fragment_count))
        ShowMoveMessage(display, i, candidate.Cluster());
      code = MoveFragment(context, i * size, candidate.Cluster(), length);
      if (code == kErrorSuccess) {
        ++context.moved;
        last_byte = candidate.byte;
        display.SetProgress(static_cast<uint64_t>(i) + 1);
        break;
      }
      if (!IsRefusedMove(code)) {
        display.ShowErrorBox("MoveFileFragment() Error", code, BoxOwner::kMainWindow,
                             BoxIcon::kNone);
        return kFragmentFailed;
      }
      // The file system would not take that run: look again at a fresh bitmap.
      bitmap.Forget();
    }
  }
  return kFragmentSucceeded;
}

}  // namespace shardix
