#include "volume/ntfsimage/preflight.h"

#include "volume/error_codes.h"
#include "volume/ntfsimage/ownership_scan.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

// What makes a scanned volume unsafe to move on, beside a disagreeing map,
// said for people: "" when nothing does.
std::string DamageFound(const ConsistencyReport& report) {
  if (!report.broken_chains.empty())
    return "The volume's file record " + std::to_string(report.broken_chains[0].mft_record) +
           ": " + report.broken_chains[0].problem + " is damaged";
  if (!report.unreadable.empty()) return "The volume's " + report.unreadable[0] + " is damaged";
  // A file a reader trips on, and a boot sector pair that disagrees, are
  // damage a move would build on.
  if (!report.unreadable_files.empty()) {
    const std::string& file = report.unreadable_files[0];  // "PATH (record N): why"
    const size_t split = std::min(file.find("): "), file.size() - 1) + 1;
    return "The volume's file " + file.substr(0, split) + " cannot be read" + file.substr(split);
  }
  if (!report.boot_sectors.empty()) return "The volume's boot sectors disagree: " + report.boot_sectors;
  if (report.unlisted_problems) return "The volume's file records is damaged";
  return "";
}

}  // namespace

uint32_t MoveGuard::Ready(ntfs_volume* vol) {
  if (scanned_) return verdict_;
  ConsistencyReport report;
  verdict_ = ScanOwnership(vol, &report, &owned_);
  if (verdict_ == kErrorSuccess) {
    if (report.cross_linked_clusters || report.unmarked_clusters) {
      verdict_ = kErrorVolumeMapDisagrees;
    } else if (const std::string damage = DamageFound(report); !damage.empty()) {
      verdict_ = kErrorDiskCorrupt;
      SetLastLibraryMessage(damage);
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
