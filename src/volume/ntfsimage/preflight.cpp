#include "volume/ntfsimage/preflight.h"

#include "volume/error_codes.h"
#include "volume/ntfsimage/consistency_scan.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

uint32_t MoveGuard::Ready(ntfs_volume* vol) {
  if (scanned_) return verdict_;
  ConsistencyReport report;
  verdict_ = ScanMountedVolume(vol, &report, &owned_);
  if (verdict_ == kErrorSuccess) {
    if (report.cross_linked_clusters || report.unmarked_clusters) {
      verdict_ = kErrorVolumeMapDisagrees;
    } else if (!report.unreadable.empty() || !report.broken_chains.empty() ||
               report.unlisted_problems) {
      verdict_ = kErrorDiskCorrupt;
      const BrokenChain* chain = report.broken_chains.empty() ? nullptr : &report.broken_chains[0];
      SetLastLibraryMessage("The volume's " +
                            (chain ? "file record " + std::to_string(chain->mft_record) + ": " +
                                         chain->problem
                                   : report.unreadable.empty() ? std::string("file records")
                                                               : report.unreadable[0]) +
                            " is damaged");
    }
  }
  // Clusters marked in use that no file owns (leaked) are left alone: they
  // cannot be taken by a move, and freeing them is the repair tool's work.
  if (verdict_ != kErrorSuccess) std::vector<uint64_t>().swap(owned_);
  scanned_ = true;
  return verdict_;
}

bool MoveGuard::Unowned(LCN lcn, s64 count) const {
  if (lcn < 0 || count <= 0) return false;
  for (uint64_t at = static_cast<uint64_t>(lcn), end = at + static_cast<uint64_t>(count);
       at < end;) {
    if (at / 64 >= owned_.size()) return false;
    const uint64_t bit = at % 64;
    const uint64_t take = std::min<uint64_t>(64 - bit, end - at);
    const uint64_t mask = (take == 64 ? ~uint64_t{0} : ((uint64_t{1} << take) - 1)) << bit;
    if (owned_[at / 64] & mask) return false;
    at += take;
  }
  return true;
}

void MoveGuard::Mark(LCN lcn, s64 count, bool owned) {
  for (uint64_t at = static_cast<uint64_t>(lcn), end = at + static_cast<uint64_t>(count);
       at < end && at / 64 < owned_.size();) {
    const uint64_t bit = at % 64;
    const uint64_t take = std::min<uint64_t>(64 - bit, end - at);
    const uint64_t mask = (take == 64 ? ~uint64_t{0} : ((uint64_t{1} << take) - 1)) << bit;
    if (owned) owned_[at / 64] |= mask;
    else owned_[at / 64] &= ~mask;
    at += take;
  }
}

void MoveGuard::Moved(const std::vector<ClusterRun>& sources, LCN target, s64 count) {
  for (const ClusterRun& run : sources) Mark(run.lcn, run.length, false);
  Mark(target, count, true);
}

}  // namespace shardix::ntfsimage
