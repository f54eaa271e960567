#include "analysis/extent_scan.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "volume/checked_math.h"
#include "volume/error_codes.h"

namespace shardix {

namespace {

// A failed query that is neither "more extents follow" nor "end of file"
// means the walk cannot be trusted; it ends the scan as a failure rather
// than leaving a truncated list that reads as the whole file.
bool IsWalkFailure(uint32_t code) {
  return code != kErrorSuccess && code != kErrorMoreData && code != kErrorHandleEof;
}

int FailWalk(Display& display, ScanResults* results, uint32_t code) {
  display.ShowErrorBox("FSCTL_GET_RETRIEVAL_POINTERS error", code, BoxOwner::kMainWindow,
                       BoxIcon::kError);
  display.ClearFragmentList();
  results->fragment_count = results->cluster_count = results->lcn_span = kNoValue;
  return -1;
}

// The LCN that would continue the first extent of `out` without a break; false
// when an answer's numbers overflow (a damaged volume's runlist).
bool NextExpectedLcn(const RetrievalPointersBuffer& out, int64_t* expected) {
  int64_t length = 0;
  return CheckedSubtract(out.extents[0].next_vcn, out.starting_vcn, &length) &&
         CheckedAdd(out.extents[0].lcn, length, expected);
}

}  // namespace

int ScanFileExtents(VolumeFile* file, Volume* volume, Display& display, ScanResults* results) {
  if (!file || !results) return 0;
  results->fragment_count = results->cluster_count = results->file_size = results->lcn_span =
      kNoValue;
  std::optional<int64_t> smallest_lcn, largest_lcn;

  if (volume) {
    VolumeBitmapBuffer probe;
    std::memset(&probe, 0, sizeof probe);
    uint32_t code = volume->GetVolumeBitmap(0, &probe, sizeof probe, nullptr);
    if (code != kErrorSuccess && code != kErrorMoreData) {
      display.ShowErrorBox("FSCTL_GET_VOLUME_BITMAP error", code, BoxOwner::kMainWindow,
                           BoxIcon::kError);
      return -1;
    }
    results->volume_cluster_count = static_cast<uint64_t>(probe.bitmap_size);
  }

  uint64_t size = 0;
  if (uint32_t code = file->GetSize(&size); code != kErrorSuccess) {
    display.ShowErrorBox("GetFileSize() error", code, BoxOwner::kMainWindow, BoxIcon::kError);
    return -1;
  }
  results->file_size = size;

  uint64_t fragment_count = 0;
  int64_t fragment_start_vcn = 0;
  int64_t fragment_lcn = 0;
  uint32_t last_error = kErrorSuccess;

  RetrievalPointersBuffer out;
  std::memset(&out, 0, sizeof out);
  if (uint32_t code = file->GetRetrievalPointers(0, &out, sizeof out, nullptr); code != 0) {
    if (IsWalkFailure(code)) return FailWalk(display, results, code);
    last_error = code;
  }
  fragment_lcn = out.extents[0].lcn;
  int64_t expected_lcn = 0;
  if (!NextExpectedLcn(out, &expected_lcn)) return FailWalk(display, results, kErrorFileCorrupt);

  if (out.extents[0].next_vcn == 0) {  // empty, or held in the file record
    results->fragment_count = results->lcn_span = results->cluster_count = 0;
    return 0;
  }

  for (;;) {
    // The query leaves the previous extent in `out` at the end of the file,
    // whose LCN differs from the one just past it: that closes the last
    // fragment below before the walk stops.
    int64_t query_vcn = out.extents[0].next_vcn;
    if (uint32_t code = file->GetRetrievalPointers(query_vcn, &out, sizeof out, nullptr);
        code != 0) {
      if (IsWalkFailure(code)) return FailWalk(display, results, code);
      last_error = code;
    }
    // An answer that does not move forward would keep the walk going for
    // good.
    if (last_error != kErrorHandleEof && out.extents[0].next_vcn <= query_vcn)
      return FailWalk(display, results, kErrorFileCorrupt);
    int64_t fragment_clusters = 0;
    if (!CheckedSubtract(query_vcn, fragment_start_vcn, &fragment_clusters))
      return FailWalk(display, results, kErrorFileCorrupt);
    if (out.extents[0].lcn != expected_lcn) {
      ++fragment_count;
      smallest_lcn = smallest_lcn ? std::min(*smallest_lcn, fragment_lcn) : fragment_lcn;
      largest_lcn = largest_lcn ? std::max(*largest_lcn, fragment_lcn) : fragment_lcn;
      display.AddFragmentRow({fragment_count, static_cast<uint64_t>(fragment_clusters),
                              static_cast<uint64_t>(fragment_lcn)});
      fragment_lcn = out.extents[0].lcn;
      fragment_start_vcn = out.starting_vcn;
    }
    if (!NextExpectedLcn(out, &expected_lcn)) return FailWalk(display, results, kErrorFileCorrupt);
    if (last_error == kErrorHandleEof) break;
  }

  results->fragment_count = fragment_count;
  results->cluster_count = static_cast<uint64_t>(out.extents[0].next_vcn);
  int64_t span = 0;
  if (smallest_lcn && largest_lcn && CheckedSubtract(*largest_lcn, *smallest_lcn, &span))
    results->lcn_span = static_cast<uint64_t>(span);
  return 0;
}

}  // namespace shardix
