#include "volume/ntfsimage/consistency_check.h"

#include <bit>
#include <set>
#include <tuple>

#include "volume/checked_math.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/image_in_use.h"
#include "volume/ntfsimage/journal/journal_recovery.h"
#include "volume/ntfsimage/journal/journal_device.h"
#include "volume/image_path.h"
#include "volume/ntfsimage/consistency_scan.h"
#include "volume/ntfsimage/image_mount.h"
#ifdef _WIN32
#include "volume/ntfsimage/image_lock.h"
#endif
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/volume_bounds.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix {

namespace {

using ntfsimage::AttributeNameText;
using ntfsimage::AttributeWalk;
using ntfsimage::CodeFromErrno;
using ntfsimage::RunWithinVolume;

// One bit per cluster, set and tested a 64-bit word at a time.
struct BitSet {
  explicit BitSet(uint64_t bits) : words((bits + 63) / 64) {}
  bool Test(uint64_t i) const { return (words[i / 64] >> (i % 64)) & 1; }
  std::vector<uint64_t> words;
};

// Records read per library call; a batch with a damaged record is read again
// one record at a time.
constexpr s64 kRecordBatch = 256;
// Bitmap bytes compared per read.
constexpr s64 kBitmapChunk = 1 << 20;

// One attribute record's part of an attribute's runlist.
struct Piece {
  VCN lowest = 0;
  VCN highest = 0;
  VCN decoded_end = 0;       // the VCN after the last run decoded
  s64 allocated_size = -1;   // only in the piece with lowest VCN 0
  std::string where;         // "record N"
};
using AttributeKey = std::tuple<uint64_t, uint32_t, std::string>;

class Checker {
 public:
  Checker(ntfs_volume* vol, ConsistencyReport* report)
      : vol_(vol), report_(report), owned_(static_cast<uint64_t>(vol->nr_clusters)) {}

  uint32_t Run(bool find_owners) {
    report_->total_clusters = static_cast<uint64_t>(vol_->nr_clusters);
    report_->cluster_size = vol_->cluster_size;
    report_->free_by_library = static_cast<uint64_t>(std::max<s64>(vol_->free_clusters, 0));
    uint32_t result = ScanRecords(/*collect_owners=*/false);
    if (result != kErrorSuccess) return result;
    if (!owned_.Test(0)) Claim(0, 1);  // the boot sector, should $Boot not name it
    result = CompareWithBitmap();
    if (result != kErrorSuccess) return result;
    CheckChains();
    if (find_owners && report_->cross_linked_clusters) result = ScanRecords(/*collect_owners=*/true);
    return result;
  }

  std::vector<uint64_t>& owned_words() { return owned_.words; }

 private:
  uint32_t ScanRecords(bool collect_owners) {
    const s64 records = ntfsimage::ReadableRecordCount(vol_);
    const size_t size = vol_->mft_record_size;
    std::vector<u8> batch(size * kRecordBatch);
    for (s64 first = 0; first < records; first += kRecordBatch) {
      const s64 count = std::min(kRecordBatch, records - first);
      errno = 0;
      const bool whole = ntfs_mft_records_read(vol_, static_cast<MFT_REF>(first), count,
                                               reinterpret_cast<MFT_RECORD*>(batch.data())) == 0;
      for (s64 i = 0; i < count; ++i) {
        auto* m = reinterpret_cast<MFT_RECORD*>(batch.data() + static_cast<size_t>(i) * size);
        if (!whole) {
          errno = 0;
          if (ntfs_mft_records_read(vol_, static_cast<MFT_REF>(first + i), 1, m) != 0) {
            if (errno == EIO || errno == EINVAL || errno == ESPIPE) {  // damaged: say so, go on
              if (!collect_owners) AddUnreadable("record " + std::to_string(first + i));
              continue;
            }
            return CodeFromErrno(errno);
          }
        }
        ScanRecord(m, static_cast<uint64_t>(first + i), collect_owners);
      }
    }
    return kErrorSuccess;
  }

  void ScanRecord(MFT_RECORD* m, uint64_t number, bool collect_owners) {
    // The library marks a record whose update sequence does not match.
    if (ntfs_is_baad_record(m->magic)) {
      if (!collect_owners) AddUnreadable("record " + std::to_string(number) + ": torn write");
      return;
    }
    if (!ntfs_is_file_record(m->magic) || !(m->flags & MFT_RECORD_IN_USE)) return;
    if (!collect_owners) ++report_->records_checked;
    // An extension record names its base with a sequence number, so even an
    // extension of $MFT itself (base record 0) has a non-zero reference.
    const uint64_t base = m->base_mft_record ? MREF_LE(m->base_mft_record) : number;
    const std::string where = "record " + std::to_string(number);
    AttributeWalk walk(m, vol_->mft_record_size);
    while (const ATTR_RECORD* a = walk.Next())
      if (a->non_resident) ScanRuns(a, base, where, collect_owners);
    if (collect_owners) return;
    if (!walk.problem().empty()) AddUnreadable(where + ": " + walk.problem());
    // An extension record exists only to hold attributes of its base.
    else if (walk.empty() && base != number) {
      if (report_->empty_extension_records.size() < ConsistencyReport::kMaxSpans)
        report_->empty_extension_records.push_back(number);
      else ++report_->unlisted_problems;
    }
  }

  void ScanRuns(const ATTR_RECORD* a, uint64_t base, const std::string& where,
                bool collect_owners) {
    const uint32_t type = le32_to_cpu(a->type);
    const std::string name = AttributeNameText(a);
    errno = 0;
    runlist_element* rl = ntfs_mapping_pairs_decompress(vol_, a, nullptr);
    if (!rl) {
      if (!collect_owners)
        AddUnreadable(where + ": runlist of attribute 0x" + Hex(type) + " cannot be decoded");
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
      if (run->length < 0 || !CheckedAdd(run->vcn, run->length, &piece.decoded_end)) {
        if (!collect_owners)
          AddChainProblem(base, type, name, where + ": a run's length is out of range");
        break;
      }
      if (run->lcn < 0) continue;                   // a hole owns nothing
      if (!RunWithinVolume(vol_, run->lcn, run->length)) {
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
    if (!collect_owners) {
      auto& pieces = pieces_[AttributeKey{base, type, name}];
      if (pieces.size() < ConsistencyReport::kMaxSpans) pieces.push_back(std::move(piece));
      else ++report_->unlisted_problems;
    }
  }

  // Marks [lcn, lcn + length) owned, word by word; clusters already owned
  // become cross-linked.
  void Claim(LCN lcn, s64 length) {
    uint64_t at = static_cast<uint64_t>(lcn);
    const uint64_t end = at + static_cast<uint64_t>(length);
    while (at < end) {
      const uint64_t bit = at % 64;
      const uint64_t take = std::min<uint64_t>(64 - bit, end - at);
      const uint64_t mask = (take == 64 ? ~uint64_t{0} : ((uint64_t{1} << take) - 1)) << bit;
      uint64_t& word = owned_.words[at / 64];
      if (word & mask) {
        if (crossed_.empty()) crossed_.resize(owned_.words.size());
        crossed_[at / 64] |= word & mask;
      }
      word |= mask;
      at += take;
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
    std::vector<u8> chunk;
    for (s64 first_byte = 0; first_byte * 8 < clusters; first_byte += kBitmapChunk) {
      const s64 bytes = std::min<s64>(kBitmapChunk, (clusters + 7) / 8 - first_byte);
      chunk.assign(static_cast<size_t>((bytes + 7) / 8 * 8), 0);
      errno = 0;
      const s64 got = ntfs_attr_pread(vol_->lcnbmp_na, first_byte, bytes, chunk.data());
      if (got != bytes) return got < 0 ? CodeFromErrno(errno) : kErrorReadFault;
      for (s64 w = 0; w * 8 < bytes; ++w) {
        const LCN base = (first_byte + w * 8) * 8;
        const uint64_t valid = clusters - base >= 64 ? ~uint64_t{0}
                                                     : (uint64_t{1} << (clusters - base)) - 1;
        uint64_t marked = 0;
        std::memcpy(&marked, chunk.data() + w * 8, 8);
        marked = le64_to_cpu(marked) & valid;
        const uint64_t owned = owned_.words[static_cast<size_t>(base / 64)] & valid;
        const uint64_t crossed = crossed_.empty() ? 0 : crossed_[static_cast<size_t>(base / 64)];
        report_->marked_used += static_cast<uint64_t>(std::popcount(marked));
        report_->owned += static_cast<uint64_t>(std::popcount(owned));
        if (!crossed && marked == owned) {  // the usual case: all agree
          close_span(base);
          continue;
        }
        for (LCN c = base; c < std::min<LCN>(base + 64, clusters); ++c) {
          const uint64_t bit = uint64_t{1} << (c - base);
          Kind kind = kNone;
          if (crossed & bit) kind = kCross, ++report_->cross_linked_clusters;
          else if ((marked & bit) && !(owned & bit)) kind = kLeak, ++report_->leaked_clusters;
          else if ((owned & bit) && !(marked & bit)) kind = kUnmarked, ++report_->unmarked_clusters;
          if (kind != open_kind) {
            close_span(c);
            open_kind = kind;
            open_start = c;
          }
        }
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
        VCN after_highest = 0;
        if (!CheckedAdd(piece.highest, 1, &after_highest) ||
            piece.decoded_end != after_highest)
          AddChainProblem(base, type, name,
                          piece.where + ": runs end at VCN " + std::to_string(piece.decoded_end) +
                              ", the record says " + std::to_string(piece.highest) + " + 1");
        if (piece.allocated_size >= 0) allocated = piece.allocated_size;
        expected = after_highest;
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
    if (report_->broken_chains.size() < ConsistencyReport::kMaxSpans)
      report_->broken_chains.push_back({base, type, name, std::move(problem)});
    else ++report_->unlisted_problems;
  }

  void AddUnreadable(std::string what) {
    if (report_->unreadable.size() < ConsistencyReport::kMaxSpans)
      report_->unreadable.push_back(std::move(what));
    else ++report_->unlisted_problems;
  }

  static std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%x", value);
    return text;
  }

  ntfs_volume* vol_;
  ConsistencyReport* report_;
  BitSet owned_;
  std::vector<uint64_t> crossed_;  // allocated at the first cross-link
  std::map<AttributeKey, std::vector<Piece>> pieces_;
};

}  // namespace

namespace ntfsimage {

uint32_t ScanMountedVolume(ntfs_volume* vol, ConsistencyReport* report,
                           std::vector<uint64_t>* owned) {
  *report = ConsistencyReport{};
  Checker checker(vol, report);
  const uint32_t result = checker.Run(/*find_owners=*/false);
  if (owned) owned->swap(checker.owned_words());
  return result;
}

}  // namespace ntfsimage

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
  if (ntfs_volume_get_free_space(vol) != 0) result = CodeFromErrno(errno);
  if (result == kErrorSuccess) result = Checker(vol, report).Run(/*find_owners=*/true);
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
  if (report.unlisted_problems)
    out << "More problems, not listed: " << report.unlisted_problems << "\n";
  out << "Free clusters: " << report.free_by_bitmap() << " by the bitmap, "
      << report.free_by_owners() << " by the files, " << report.free_by_library
      << " by the library's count" << (report.free_count_agrees() ? "\n" : " (disagree)\n");
  size_t problems = report.cross_linked.size() + report.leaked.size() + report.unmarked.size() +
                    report.broken_chains.size() + report.unreadable.size() +
                    report.empty_extension_records.size() + report.unlisted_problems +
                    (report.free_count_agrees() ? 0 : 1) + (report.interrupted ? 1 : 0);
  if (report.clean()) out << "Result: clean\n";
  else out << "Result: " << problems << " problem" << (problems == 1 ? "" : "s") << " found\n";
}

}  // namespace shardix
