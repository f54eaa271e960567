#include "volume/ntfsimage/runlist_edit.h"

namespace shardix::ntfsimage {

namespace {

size_t ElementCount(const runlist_element* rl) {
  size_t n = 0;
  while (rl[n].length) ++n;
  return n + 1;  // with the terminator
}

// Index of the run holding vcn, or -1.
ptrdiff_t RunIndex(const runlist_element* rl, size_t runs, VCN vcn) {
  size_t low = 0, high = runs;
  while (low < high) {
    const size_t mid = low + (high - low) / 2;
    if (rl[mid].vcn + rl[mid].length <= vcn) low = mid + 1; else high = mid;
  }
  if (low == runs || rl[low].vcn > vcn) return -1;
  return static_cast<ptrdiff_t>(low);
}

bool Mergeable(const runlist_element& left, const runlist_element& right) {
  if (left.vcn + left.length != right.vcn) return false;
  if (left.lcn >= 0 && right.lcn >= 0) return left.lcn + left.length == right.lcn;
  return left.lcn == LCN_HOLE && right.lcn == LCN_HOLE;
}

}  // namespace

runlist_element* AllocateRunlist(size_t elements) {
  const size_t bytes = (elements * sizeof(runlist_element) + 0xfff) & ~size_t{0xfff};
  auto* rl = static_cast<runlist_element*>(malloc(bytes));
  if (!rl) errno = ENOMEM;
  return rl;
}

bool RunsOfRange(const runlist_element* rl, VCN vcn, s64 count, std::vector<ClusterRun>* runs) {
  runs->clear();
  if (!rl || count <= 0) return false;
  const size_t total = ElementCount(rl) - 1;
  ptrdiff_t i = RunIndex(rl, total, vcn);
  if (i < 0) return false;
  const VCN end = vcn + count;
  for (VCN at = vcn; at < end; ++i) {
    if (static_cast<size_t>(i) >= total) return false;
    const runlist_element& run = rl[i];
    if (run.lcn < 0 || run.vcn > at) return false;
    const s64 take = std::min(run.vcn + run.length, end) - at;
    runs->push_back({run.lcn + (at - run.vcn), take});
    at += take;
  }
  return true;
}

runlist_element* PlaceRange(const runlist_element* rl, VCN vcn, s64 count, LCN target,
                            VCN* first_changed) {
  const size_t total = ElementCount(rl);  // with the terminator
  const size_t runs = total - 1;
  const ptrdiff_t first = RunIndex(rl, runs, vcn);
  const ptrdiff_t last = RunIndex(rl, runs, vcn + count - 1);
  if (first < 0 || last < 0) {
    errno = EINVAL;
    return nullptr;
  }

  // The replaced runs [begin, end) become these pieces.
  std::vector<runlist_element> pieces;
  const runlist_element& head = rl[first];
  if (head.vcn < vcn) pieces.push_back({head.vcn, head.lcn, vcn - head.vcn});
  pieces.push_back({vcn, target, count});
  const runlist_element& tail = rl[last];
  const VCN tail_end = tail.vcn + tail.length;
  if (tail_end > vcn + count)
    pieces.push_back({vcn + count, tail.lcn + (vcn + count - tail.vcn), tail_end - vcn - count});

  size_t begin = static_cast<size_t>(first);
  size_t end = static_cast<size_t>(last) + 1;
  if (begin > 0 && Mergeable(rl[begin - 1], pieces.front())) {
    --begin;
    pieces.front().vcn = rl[begin].vcn;
    pieces.front().lcn = rl[begin].lcn;
    pieces.front().length += rl[begin].length;
  }
  if (end < runs && Mergeable(pieces.back(), rl[end])) {
    pieces.back().length += rl[end].length;
    ++end;
  }

  const size_t elements = begin + pieces.size() + (total - end);
  runlist_element* placed = AllocateRunlist(elements);
  if (!placed) return nullptr;
  std::copy(rl, rl + begin, placed);
  std::copy(pieces.begin(), pieces.end(), placed + begin);
  std::copy(rl + end, rl + total, placed + begin + pieces.size());
  *first_changed = pieces.front().vcn;
  return placed;
}

}  // namespace shardix::ntfsimage
