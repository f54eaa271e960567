#include "volume/ntfsimage/consistency_check.h"

#include <set>
#include <tuple>

#include "volume/error_codes.h"
#include "volume/ntfsimage/image_in_use.h"
#include "volume/ntfsimage/image_journal.h"
#include "volume/ntfsimage/journal_device.h"
#include "volume/ntfsimage/image_mount.h"
#ifdef _WIN32
#include "volume/ntfsimage/image_lock.h"
#endif
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix {

namespace {

using ntfsimage::CodeFromErrno;

struct BitSet {
  explicit BitSet(uint64_t bits) : words((bits + 63) / 64) {}
  bool Test(uint64_t i) const { return (words[i / 64] >> (i % 64)) & 1; }
  void Set(uint64_t i) { words[i / 64] |= uint64_t{1} << (i % 64); }
  std::vector<uint64_t> words;
};

// One attribute record's part of an attribute's runlist.
struct Piece {
  VCN lowest = 0;
  VCN highest = 0;
  VCN decoded_end = 0;       // the VCN after the last run decoded
  s64 allocated_size = -1;   // only in the piece with lowest VCN 0
  std::string where;         // "record N"
};
using AttributeKey = std::tuple<uint64_t, uint32_t, std::string>;

std::string AttributeName(const ATTR_RECORD* a) {
  if (!a->name_length) return "";
  const auto* name = reinterpret_cast<const ntfschar*>(reinterpret_cast<const u8*>(a) +
                                                       le16_to_cpu(a->name_offset));
  char* text = nullptr;
  if (ntfs_ucstombs(name, a->name_length, &text, 0) < 0 || !text) return "?";
  std::string result(text);
  free(text);
  return result;
}

class Checker {
 public:
  Checker(ntfs_volume* vol, ConsistencyReport* report)
      : vol_(vol), report_(report), owned_(vol->nr_clusters), crossed_(vol->nr_clusters) {}

  uint32_t Run() {
    report_->total_clusters = static_cast<uint64_t>(vol_->nr_clusters);
    report_->cluster_size = vol_->cluster_size;
    report_->free_by_library = static_cast<uint64_t>(std::max<s64>(vol_->free_clusters, 0));
    uint32_t result = ScanRecords(/*collect_owners=*/false);
    if (result != kErrorSuccess) return result;
    if (!owned_.Test(0)) Claim(0, 1);  // the boot sector, should $Boot not name it
    result = CompareWithBitmap();
    if (result != kErrorSuccess) return result;
    CheckChains();
    if (report_->cross_linked_clusters) result = ScanRecords(/*collect_owners=*/true);
    return result;
  }

 private:
  uint32_t ScanRecords(bool collect_owners) {
    const s64 records = vol_->mft_na->initialized_size >> vol_->mft_record_size_bits;
    std::vector<u8> record(vol_->mft_record_size);
    for (s64 number = 0; number < records; ++number) {
      auto* m = reinterpret_cast<MFT_RECORD*>(record.data());
      errno = 0;
      if (ntfs_mft_records_read(vol_, static_cast<MFT_REF>(number), 1, m) != 0) {
        if (errno == EIO || errno == EINVAL) {  // a damaged record: say so, go on
          if (!collect_owners) report_->unreadable.push_back("record " + std::to_string(number));
          continue;
        }
        return CodeFromErrno(errno);
      }
      if (!ntfs_is_file_record(m->magic) || !(m->flags & MFT_RECORD_IN_USE)) continue;
      if (!collect_owners) ++report_->records_checked;
      const uint64_t base = MREF_LE(m->base_mft_record) ? MREF_LE(m->base_mft_record)
                                                        : static_cast<uint64_t>(number);
      ScanAttributes(m, static_cast<uint64_t>(number), base, collect_owners);
    }
    return kErrorSuccess;
  }

  void ScanAttributes(MFT_RECORD* m, uint64_t number, uint64_t base, bool collect_owners) {
    const u32 in_use = le32_to_cpu(m->bytes_in_use);
    u32 offset = le16_to_cpu(m->attrs_offset);
    const std::string where = "record " + std::to_string(number);
    for (;;) {
      if (offset + 8 > in_use) {
        if (!collect_owners) report_->unreadable.push_back(where + ": attributes run past the record");
        return;
      }
      auto* a = reinterpret_cast<ATTR_RECORD*>(reinterpret_cast<u8*>(m) + offset);
      if (a->type == AT_END) {
        // An extension record exists only to hold attributes of its base.
        if (!collect_owners && base != number && offset == le16_to_cpu(m->attrs_offset))
          report_->empty_extension_records.push_back(number);
        return;
      }
      const u32 length = le32_to_cpu(a->length);
      if (length < 16 || offset + length > in_use) {
        if (!collect_owners) report_->unreadable.push_back(where + ": attribute of bad length");
        return;
      }
      if (a->non_resident) ScanRuns(a, base, where, collect_owners);
      offset += length;
    }
  }

  void ScanRuns(ATTR_RECORD* a, uint64_t base, const std::string& where, bool collect_owners) {
    const uint32_t type = le32_to_cpu(a->type);
    const std::string name = AttributeName(a);
    errno = 0;
    runlist_element* rl = ntfs_mapping_pairs_decompress(vol_, a, nullptr);
    if (!rl) {
      if (!collect_owners)
        report_->unreadable.push_back(where + ": runlist of attribute 0x" + Hex(type) +
                                      " cannot be decoded");
      return;
    }
    Piece piece;
    piece.lowest = sle64_to_cpu(a->lowest_vcn);
    piece.highest = sle64_to_cpu(a->highest_vcn);
    piece.decoded_end = piece.lowest;
    if (piece.lowest == 0) piece.allocated_size = sle64_to_cpu(a->allocated_size);
    piece.where = where;
    for (runlist_element* run = rl; run->length; ++run) {
      if (run->lcn == LCN_RL_NOT_MAPPED) continue;  // the part before lowest_vcn
      piece.decoded_end = run->vcn + run->length;
      if (run->lcn < 0) continue;                   // a hole owns nothing
      if (run->lcn + run->length > vol_->nr_clusters) {
        if (!collect_owners)
          AddChainProblem(base, type, name,
                          where + ": run at LCN " + std::to_string(run->lcn) + " of " +
                              std::to_string(run->length) + " clusters ends past the volume");
        continue;
      }
      if (collect_owners) NoteOwner(run->lcn, run->length, base);
      else Claim(run->lcn, run->length);
    }
    free(rl);
    if (!collect_owners) pieces_[AttributeKey{base, type, name}].push_back(piece);
  }

  void Claim(LCN lcn, s64 length) {
    for (LCN c = lcn; c < lcn + length; ++c) {
      if (owned_.Test(c)) crossed_.Set(c);
      else owned_.Set(c);
    }
  }

  void NoteOwner(LCN lcn, s64 length, uint64_t owner) {
    for (ClusterSpan& span : report_->cross_linked) {
      if (span.lcn < lcn + length && lcn < span.lcn + span.length &&
          std::find(span.owners.begin(), span.owners.end(), owner) == span.owners.end())
        span.owners.push_back(owner);
    }
  }

  uint32_t CompareWithBitmap() {
    const s64 clusters = vol_->nr_clusters;
    std::vector<u8> bitmap(static_cast<size_t>((clusters + 7) / 8));
    errno = 0;
    const s64 got = ntfs_attr_pread(vol_->lcnbmp_na, 0, static_cast<s64>(bitmap.size()), bitmap.data());
    if (got != static_cast<s64>(bitmap.size())) return got < 0 ? CodeFromErrno(errno) : kErrorReadFault;
    enum Kind { kNone, kCross, kLeak, kUnmarked };
    Kind open_kind = kNone;
    LCN open_start = 0;
    auto close_span = [&](LCN end) {
      if (open_kind == kNone) return;
      auto* list = open_kind == kCross ? &report_->cross_linked
                   : open_kind == kLeak ? &report_->leaked : &report_->unmarked;
      if (list->size() < ConsistencyReport::kMaxSpans) list->push_back({open_start, end - open_start, {}});
      open_kind = kNone;
    };
    for (LCN c = 0; c < clusters; ++c) {
      const bool marked = (bitmap[c / 8] >> (c % 8)) & 1;
      const bool owned = owned_.Test(c);
      report_->marked_used += marked;
      report_->owned += owned;
      Kind kind = kNone;
      if (crossed_.Test(c)) kind = kCross, ++report_->cross_linked_clusters;
      else if (marked && !owned) kind = kLeak, ++report_->leaked_clusters;
      else if (owned && !marked) kind = kUnmarked, ++report_->unmarked_clusters;
      if (kind != open_kind) {
        close_span(c);
        open_kind = kind;
        open_start = c;
      }
    }
    close_span(clusters);
    return kErrorSuccess;
  }

  void CheckChains() {
    for (auto& [key, pieces] : pieces_) {
      const auto& [base, type, name] = key;
      std::sort(pieces.begin(), pieces.end(),
                [](const Piece& x, const Piece& y) { return x.lowest < y.lowest; });
      VCN expected = 0;
      s64 allocated = -1;
      for (const Piece& piece : pieces) {
        if (piece.lowest != expected)
          AddChainProblem(base, type, name,
                          piece.where + ": extent starts at VCN " + std::to_string(piece.lowest) +
                              ", expected " + std::to_string(expected));
        if (piece.decoded_end != piece.highest + 1)
          AddChainProblem(base, type, name,
                          piece.where + ": runs end at VCN " + std::to_string(piece.decoded_end) +
                              ", the record says " + std::to_string(piece.highest + 1));
        if (piece.allocated_size >= 0) allocated = piece.allocated_size;
        expected = piece.highest + 1;
      }
      if (allocated < 0) {
        AddChainProblem(base, type, name, "no extent starts at VCN 0");
        continue;
      }
      const VCN allocated_clusters = allocated >> vol_->cluster_size_bits;
      if (expected != allocated_clusters)
        AddChainProblem(base, type, name,
                        "extents cover " + std::to_string(expected) +
                            " clusters, the allocated size is " + std::to_string(allocated_clusters));
    }
  }

  void AddChainProblem(uint64_t base, uint32_t type, const std::string& name, std::string problem) {
    report_->broken_chains.push_back({base, type, name, std::move(problem)});
  }

  static std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%x", value);
    return text;
  }

  ntfs_volume* vol_;
  ConsistencyReport* report_;
  BitSet owned_;
  BitSet crossed_;
  std::map<AttributeKey, std::vector<Piece>> pieces_;
};

}  // namespace

uint32_t CheckImageConsistency(const std::string& image, ConsistencyReport* report) {
  if (!report) return kErrorInvalidParameter;
  *report = ConsistencyReport{};
  report->image = image;
  ntfsimage::InstallLibraryLogHandler();
  std::string canonical;
  if (!ntfsimage::CanonicalImagePath(image, &canonical)) return kErrorFileNotFound;
  // Our own read-write mount would hold changes the image does not show yet.
  if (ntfsimage::IsMountedHere(canonical)) return kErrorSharingViolation;
  report->in_use = ntfsimage::InUseElsewhere(canonical);
  ntfsimage::RecoveryOutcome recovered;
  if (const uint32_t code = ntfsimage::RecoverJournal(canonical, &recovered, report->in_use.empty()))
    return code;
  report->journal = ntfsimage::RecoveryText(report->image, recovered);

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
  if (ntfs_volume_get_free_space(vol) != 0) result = CodeFromErrno(errno);
  if (result == kErrorSuccess) result = Checker(vol, report).Run();
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
  for (uint64_t record : report.empty_extension_records)
    out << "Extension record " << record << " is in use but holds nothing\n";
  out << "Free clusters: " << report.free_by_bitmap() << " by the bitmap, "
      << report.free_by_owners() << " by the files, " << report.free_by_library
      << " by the library's count" << (report.free_count_agrees() ? "\n" : " (disagree)\n");
  size_t problems = report.cross_linked.size() + report.leaked.size() + report.unmarked.size() +
                    report.broken_chains.size() + report.unreadable.size() +
                    report.empty_extension_records.size() +
                    (report.free_count_agrees() ? 0 : 1);
  if (report.clean()) out << "Result: clean\n";
  else out << "Result: " << problems << " problem" << (problems == 1 ? "" : "s") << " found\n";
}

}  // namespace shardix
