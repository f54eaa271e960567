#include "volume/ntfsimage/consistency_check.h"

#include "volume/error_codes.h"
#include "volume/ntfsimage/image_in_use.h"
#include "volume/ntfsimage/journal/journal_recovery.h"
#include "volume/ntfsimage/journal/journal_device.h"
#include "volume/image_path.h"
#include "volume/ntfsimage/ownership_scan.h"
#include "volume/ntfsimage/image_mount.h"
#ifdef _WIN32
#include "volume/ntfsimage/image_lock.h"
#endif
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix {

uint32_t CheckImageConsistency(const std::string& image, ConsistencyReport* report) {
  if (!report) return kErrorInvalidParameter;
  *report = ConsistencyReport{};
  report->image = image;
  ntfsimage::InstallLibraryLogHandler();
  if (const uint32_t refused = RefuseSpecialFile(image)) return refused;
  std::string canonical;
  if (!ntfsimage::CanonicalImagePath(image, &canonical)) return kErrorFileNotFound;
  // Our own read-write mount would hold changes the image does not show yet.
  if (ntfsimage::IsMountedHere(canonical)) return kErrorSharingViolation;
  report->in_use = ntfsimage::InUseElsewhere(canonical);
  ntfsimage::RecoveryOutcome recovered;
  if (const uint32_t code = ntfsimage::RecoverJournal(canonical, &recovered, report->in_use.empty()))
    return code;
  report->journal = ntfsimage::RecoveryText(report->image, recovered);
  report->interrupted = recovered.interrupted;

#ifdef _WIN32
  std::shared_ptr<void> image_lock;  // held until after the unmount below
  if (const uint32_t code = ntfsimage::LockImage(canonical, false, &image_lock)) return code;
#endif
  ntfs_volume* vol = nullptr;
  std::unique_ptr<ntfsimage::JournaledDevice> device;
  const auto mode = report->in_use.empty() ? ntfsimage::MountMode::kRead
                                           : ntfsimage::MountMode::kReadWhileInUse;
  if (const uint32_t code = ntfsimage::MountJournaled(canonical, mode, &vol, &device)) return code;
  uint32_t result = kErrorSuccess;
  errno = 0;
  if (ntfs_volume_get_free_space(vol) != 0) result = ntfsimage::CodeFromErrno(errno);
  if (result == kErrorSuccess) result = ntfsimage::ScanOwnership(vol, report, nullptr);
  if (result == kErrorSuccess) result = ntfsimage::FindCrossLinkOwners(vol, report);
  const uint32_t unmounted = ntfsimage::UnmountJournaled(vol, std::move(device));
  return result != kErrorSuccess ? result : unmounted;
}

namespace {

void WriteSpans(const char* title, const std::vector<ClusterSpan>& spans, uint64_t clusters,
                std::ostream& out) {
  out << title << ": " << clusters << " clusters";
  if (!clusters) {
    out << "\n";
    return;
  }
  out << " in " << spans.size() << (spans.size() == ConsistencyReport::kMaxSpans ? "+" : "")
      << " runs\n";
  for (const ClusterSpan& span : spans) {
    out << "  LCN " << span.lcn << "-" << span.lcn + span.length - 1 << " (" << span.length
        << " clusters)";
    if (!span.owners.empty()) {
      out << ", records";
      for (uint64_t owner : span.owners) out << " " << owner;
    }
    out << "\n";
  }
}

}  // namespace

void WriteConsistencyReport(const ConsistencyReport& report, std::ostream& out) {
  out << "Image: " << report.image << "\n";
  out << "Clusters: " << report.total_clusters << " of " << report.cluster_size << " bytes, "
      << report.marked_used << " marked in use, " << report.owned << " owned by files\n";
  out << "File records checked: " << report.records_checked << "\n";
  if (!report.in_use.empty())
    out << "In use: " << report.in_use << " (what it shows may be out of date)\n";
  out << "Journal: " << (report.journal.empty() ? "no interrupted move pending" : report.journal)
      << "\n";
  WriteSpans("Cross-linked clusters", report.cross_linked, report.cross_linked_clusters, out);
  WriteSpans("Clusters marked in use but owned by no file", report.leaked, report.leaked_clusters,
             out);
  WriteSpans("Clusters in use but marked free", report.unmarked, report.unmarked_clusters, out);
  out << "Broken extent chains: " << report.broken_chains.size() << "\n";
  for (const BrokenChain& chain : report.broken_chains) {
    char type[16];
    snprintf(type, sizeof type, "0x%x", chain.attribute_type);
    out << "  record " << chain.mft_record << " attribute " << type
        << (chain.attribute_name.empty() ? "" : ":" + chain.attribute_name) << ": " << chain.problem
        << "\n";
  }
  for (const std::string& what : report.unreadable) out << "Unreadable: " << what << "\n";
  for (const std::string& what : report.unreadable_files) out << "Unreadable file: " << what << "\n";
  if (!report.boot_sectors.empty()) out << "Boot sector: " << report.boot_sectors << "\n";
  for (uint64_t record : report.empty_extension_records)
    out << "Extension record " << record << " is in use but holds nothing\n";
  if (report.unlisted_problems)
    out << "More problems, not listed: " << report.unlisted_problems << "\n";
  out << "Free clusters: " << report.free_by_bitmap() << " by the bitmap, "
      << report.free_by_owners() << " by the files, " << report.free_by_library
      << " by the library's count" << (report.free_count_agrees() ? "\n" : " (disagree)\n");
  size_t problems = report.cross_linked.size() + report.leaked.size() + report.unmarked.size() +
                    report.broken_chains.size() + report.unreadable.size() +
                    report.unreadable_files.size() + (report.boot_sectors.empty() ? 0 : 1) +
                    report.empty_extension_records.size() + report.unlisted_problems +
                    (report.free_count_agrees() ? 0 : 1) + (report.interrupted ? 1 : 0);
  if (report.clean()) out << "Result: clean\n";
  else out << "Result: " << problems << " problem" << (problems == 1 ? "" : "s") << " found\n";
}

}  // namespace shardix
