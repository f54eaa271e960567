#include "fragment/fragment_plan.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "display/display.h"
#include "fragment/fragment_file.h"
#include "volume/error_codes.h"
#include "volume/volume.h"

namespace shardix {

void ClusterOverlay::Set(int64_t first, int64_t end, bool used) {
  if (first >= end) return;
  // A range that starts before `first` keeps its part before it (and the
  // part after `end` when it reaches that far).
  auto it = ranges_.lower_bound(first);
  if (it != ranges_.begin()) {
    auto before = std::prev(it);
    if (before->second.end > first) {
      const Range whole = before->second;
      before->second.end = first;
      if (whole.end > end) ranges_[end] = whole;
    }
  }
  for (it = ranges_.lower_bound(first); it != ranges_.end() && it->first < end;) {
    if (it->second.end > end) ranges_[end] = it->second;
    it = ranges_.erase(it);
  }
  ranges_[first] = Range{end, used};
}

uint32_t ClusterOverlay::FindInUse(BitmapWindows& bitmap, Volume& volume, int64_t from,
                                   int64_t end, int64_t* found) const {
  auto it = ranges_.upper_bound(from);
  if (it != ranges_.begin() && std::prev(it)->second.end > from) --it;
  for (int64_t at = from; at < end;) {
    if (it != ranges_.end() && it->first <= at) {
      if (it->second.used) {
        *found = at;
        return kErrorSuccess;
      }
      at = std::min(end, it->second.end);
      ++it;
      continue;
    }
    const int64_t stop = it == ranges_.end() ? end : std::min(end, it->first);
    int64_t hit = stop;
    if (const uint32_t code = bitmap.FindInUse(volume, at, stop, &hit)) return code;
    if (hit < stop) {
      *found = hit;
      return kErrorSuccess;
    }
    at = stop;
  }
  *found = end;
  return kErrorSuccess;
}

uint32_t ReadFileRuns(VolumeFile& file, std::vector<RetrievalExtent>* runs) {
  runs->clear();
  constexpr std::size_t kExtents = 512;
  std::vector<uint8_t> buffer(kRetrievalPointersHeaderSize + kExtents * sizeof(RetrievalExtent));
  for (int64_t vcn = 0;;) {
    std::size_t returned = 0;
    const uint32_t code = file.GetRetrievalPointers(vcn, buffer.data(), buffer.size(), &returned);
    if (code == kErrorHandleEof) return kErrorSuccess;
    if (code != kErrorSuccess && code != kErrorMoreData) return code;
    uint32_t count = 0;
    std::memcpy(&count, buffer.data() + offsetof(RetrievalPointersBuffer, extent_count), sizeof count);
    count = static_cast<uint32_t>(std::min<std::size_t>(count, kExtents));
    for (uint32_t i = 0; i < count; ++i) {
      RetrievalExtent extent;
      std::memcpy(&extent, buffer.data() + kRetrievalPointersHeaderSize + i * sizeof extent,
                  sizeof extent);
      runs->push_back(extent);
    }
    if (code == kErrorSuccess) return kErrorSuccess;
    // Each answer must get further, or the walk would never end.
    if (count == 0 || runs->back().next_vcn <= vcn) return kErrorInvalidData;
    vcn = runs->back().next_vcn;
  }
}

FragmentPlanner::FragmentPlanner(JobContext& context, int64_t count, int64_t size,
                                 PlacementMethod method, int64_t total)
    : context_(context),
      random_(context.random ? *context.random : ProcessRandom()),
      count_(count),
      size_(size),
      total_(total),
      method_(method) {}

uint32_t FragmentPlanner::Start() {
  Display& display = *context_.display;
  uint32_t code = bitmap_.Probe(*context_.volume);
  if (code != kErrorSuccess) {
    display.ShowErrorBox("FSCTL_GET_VOLUME_BITMAP Error", code, BoxOwner::kMainWindow,
                         BoxIcon::kNone);
    return code;
  }
  // The clusters each planned move gives back. A backend that cannot list
  // them leaves them taken in the plan: later pieces then avoid them.
  code = ReadFileRuns(*context_.file, &runs_);
  if (code == kErrorNotSupported) {
    runs_.clear();
  } else if (code != kErrorSuccess) {
    display.ShowErrorBox("FSCTL_GET_RETRIEVAL_POINTERS Error", code, BoxOwner::kMainWindow,
                         BoxIcon::kNone);
    return code;
  }
  state_ = State{};
  state_.random = random_.State();
  return kErrorSuccess;
}

int64_t FragmentPlanner::LengthOf(uint64_t index) const {
  return static_cast<int64_t>(index) == count_ - 1 ? total_ - (count_ - 1) * size_ : size_;
}

void FragmentPlanner::Take(uint64_t index, int64_t lcn) {
  const int64_t first_vcn = static_cast<int64_t>(index) * size_;
  const int64_t end_vcn = first_vcn + LengthOf(index);
  // The runs that hold the piece now: they are free once it has moved.
  auto run = std::upper_bound(runs_.begin(), runs_.end(), first_vcn,
                              [](int64_t vcn, const RetrievalExtent& r) { return vcn < r.next_vcn; });
  for (; run != runs_.end(); ++run) {
    const int64_t run_vcn = run == runs_.begin() ? 0 : std::prev(run)->next_vcn;
    if (run_vcn >= end_vcn) break;
    if (run->lcn < 0) continue;  // a hole has no clusters
    const int64_t from = std::max(run_vcn, first_vcn), to = std::min(run->next_vcn, end_vcn);
    overlay_.Set(run->lcn + (from - run_vcn), run->lcn + (to - run_vcn), false);
  }
  overlay_.Set(lcn, lcn + LengthOf(index), true);
}

int FragmentPlanner::PlanAll() {
  pieces_.clear();
  chosen_.clear();
  overlay_.Clear();
  return PlanPieces(0);
}

int FragmentPlanner::ReplanFrom(uint64_t index) {
  state_ = chosen_.at(index);
  random_.Seed(state_.random);
  ++state_.attempt;
  pieces_.resize(index);
  chosen_.resize(index);
  overlay_.Clear();  // the volume itself now shows the moves made
  return PlanPieces(index);
}

int FragmentPlanner::PlanPieces(uint64_t first) {
  Display& display = *context_.display;
  const int64_t bitmap_bytes = bitmap_.whole_bytes();
  for (auto i = static_cast<int64_t>(first); i < count_; ++i) {
    const int64_t length = LengthOf(static_cast<uint64_t>(i));
    bitmap_.Forget();  // each piece looks at the volume as it is now
    for (;; ++state_.attempt) {
      if (context_.StopRequested()) return kJobStopped;
      BitPosition candidate;
      if (state_.attempt > kRandomAttempts || method_ == PlacementMethod::kFirstFit) {
        // The fallback starts over from cluster 0 once, then, like First
        // Fit, carries on from where the previous scan stopped, so every
        // such scan ends further on and the search reaches the end.
        const bool restart = method_ != PlacementMethod::kFirstFit &&
                             state_.attempt == kRandomAttempts + 1;
        candidate = restart ? BitPosition{} : state_.resume;
        if (candidate.byte >= bitmap_bytes) return kFragmentNoRoom;
      } else {
        auto drawn = DrawCandidate(method_, static_cast<uint64_t>(i), state_.last_byte,
                                   bitmap_bytes, length, random_);
        if (!drawn) continue;
        candidate = *drawn;
      }
      candidate = AlignCandidate(candidate, length);
      int64_t unusable = candidate.Cluster();
      const int64_t reach = ScanReachEnd(candidate, length, bitmap_bytes);
      if (const uint32_t code =
              overlay_.FindInUse(bitmap_, *context_.volume, unusable, reach, &unusable)) {
        display.ShowErrorBox("FSCTL_GET_VOLUME_BITMAP", code, BoxOwner::kNone, BoxIcon::kError);
        return kFragmentFailed;
      }
      const ScanOutcome scan = ScanOutcomeAt(candidate, length, bitmap_bytes, unusable);
      state_.resume = scan.stop;
      if (!scan.free) continue;

      state_.random = random_.State();
      chosen_.push_back(state_);
      pieces_.push_back({i * size_, length, candidate.Cluster()});
      Take(static_cast<uint64_t>(i), candidate.Cluster());
      state_.last_byte = candidate.byte;
      state_.attempt = 1;
      break;
    }
  }
  return kFragmentSucceeded;
}

}  // namespace shardix
