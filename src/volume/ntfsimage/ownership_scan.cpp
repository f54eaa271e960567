#include "volume/ntfsimage/ownership_scan.h"

#include <bit>

#include "volume/checked_math.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/scan_parts.h"
#include "volume/ntfsimage/volume_bounds.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

// Records read per library call; a batch with a damaged record is read again
// one record at a time.
constexpr s64 kRecordBatch = 256;
// Bitmap bytes compared per read.
constexpr s64 kBitmapChunk = 1 << 20;

// Calls `visit(record, number)` for every record $MFT holds, and
// `damaged(number)` for one that cannot be read. Stops at the first read
// failure that is not damage and returns its code.
template <typename Visit, typename Damaged>
uint32_t ForEachRecord(ntfs_volume* vol, Visit visit, Damaged damaged) {
  const s64 records = ReadableRecordCount(vol);
  const size_t size = vol->mft_record_size;
  std::vector<u8> batch(size * kRecordBatch);
  for (s64 first = 0; first < records; first += kRecordBatch) {
    const s64 count = std::min(kRecordBatch, records - first);
    errno = 0;
    const bool whole = ntfs_mft_records_read(vol, static_cast<MFT_REF>(first), count,
                                             reinterpret_cast<MFT_RECORD*>(batch.data())) == 0;
    for (s64 i = 0; i < count; ++i) {
      auto* m = reinterpret_cast<MFT_RECORD*>(batch.data() + static_cast<size_t>(i) * size);
      const auto number = static_cast<uint64_t>(first + i);
      if (!whole) {
        errno = 0;
        if (ntfs_mft_records_read(vol, static_cast<MFT_REF>(number), 1, m) != 0) {
          if (errno != EIO && errno != EINVAL && errno != ESPIPE) return CodeFromErrno(errno);
          damaged(number);
          continue;
        }
      }
      visit(m, number);
    }
  }
  return kErrorSuccess;
}

// The base record of an in-use record: itself, or the one it extends. An
// extension record names its base with a sequence number, so even an
// extension of $MFT itself (base record 0) has a non-zero reference.
uint64_t BaseOf(const MFT_RECORD* m, uint64_t number) {
  return m->base_mft_record ? MREF_LE(m->base_mft_record) : number;
}

bool InUse(const MFT_RECORD* m) {
  return ntfs_is_file_record(m->magic) && (m->flags & MFT_RECORD_IN_USE);
}

// One bit per cluster for the clusters files own, and one for those owned
// twice (allocated at the first cross-link).
class ClusterOwners {
 public:
  explicit ClusterOwners(uint64_t clusters) : owned_((clusters + 63) / 64) {}

  // Marks [lcn, lcn + length) owned, a word at a time.
  void Claim(LCN lcn, s64 length) {
    uint64_t at = static_cast<uint64_t>(lcn);
    const uint64_t end = at + static_cast<uint64_t>(length);
    while (at < end) {
      const uint64_t bit = at % 64;
      const uint64_t take = std::min<uint64_t>(64 - bit, end - at);
      const uint64_t mask = (take == 64 ? ~uint64_t{0} : ((uint64_t{1} << take) - 1)) << bit;
      uint64_t& word = owned_[at / 64];
      if (word & mask) {
        if (crossed_.empty()) crossed_.resize(owned_.size());
        crossed_[at / 64] |= word & mask;
      }
      word |= mask;
      at += take;
    }
  }
  bool Owned(uint64_t lcn) const { return (owned_[lcn / 64] >> (lcn % 64)) & 1; }
  uint64_t OwnedWord(size_t i) const { return owned_[i]; }
  uint64_t CrossedWord(size_t i) const { return crossed_.empty() ? 0 : crossed_[i]; }
  std::vector<uint64_t>& words() { return owned_; }

 private:
  std::vector<uint64_t> owned_;
  std::vector<uint64_t> crossed_;
};

class Scan {
 public:
  Scan(ntfs_volume* vol, ConsistencyReport* report)
      : vol_(vol), report_(report), owners_(static_cast<uint64_t>(vol->nr_clusters)) {}

  uint32_t Run() {
    report_->total_clusters = static_cast<uint64_t>(vol_->nr_clusters);
    report_->cluster_size = vol_->cluster_size;
    report_->free_by_library = static_cast<uint64_t>(std::max<s64>(vol_->free_clusters, 0));
    uint32_t result = ForEachRecord(
        vol_, [this](MFT_RECORD* m, uint64_t number) { ScanRecord(m, number); },
        [this](uint64_t number) { AddUnreadable(report_, "record " + std::to_string(number)); });
    if (result != kErrorSuccess) return result;
    if (!owners_.Owned(0)) owners_.Claim(0, 1);  // the boot sector, should $Boot not name it
    result = CompareWithBitmap();
    if (result != kErrorSuccess) return result;
    chains_.Check(vol_, report_);
    lists_.Check(vol_, report_);
    return CheckBootSectorPair(vol_, &report_->boot_sectors);
  }

  std::vector<uint64_t>& owned_words() { return owners_.words(); }

 private:
  void ScanRecord(MFT_RECORD* m, uint64_t number) {
    // The library marks a record whose update sequence does not match.
    if (ntfs_is_baad_record(m->magic)) {
      AddUnreadable(report_, "record " + std::to_string(number) + ": torn write");
      return;
    }
    if (!InUse(m)) return;
    ++report_->records_checked;
    const uint64_t base = BaseOf(m, number);
    const std::string where = "record " + std::to_string(number);
    bool has_list = false;
    AttributeWalk walk(m, vol_->mft_record_size);
    while (const ATTR_RECORD* a = walk.Next()) {
      if (a->non_resident) ScanRuns(a, base, where);
      has_list |= a->type == AT_ATTRIBUTE_LIST && base == number;
    }
    if (!walk.problem().empty()) {
      AddUnreadable(report_, where + ": " + walk.problem());
    } else if (walk.empty() && base != number) {
      // An extension record exists only to hold attributes of its base.
      if (report_->empty_extension_records.size() < ConsistencyReport::kMaxSpans)
        report_->empty_extension_records.push_back(number);
      else ++report_->unlisted_problems;
    } else if (has_list || base != number) {
      lists_.Note(vol_, m, number, base, has_list);
    }
  }

  void ScanRuns(const ATTR_RECORD* a, uint64_t base, const std::string& where) {
    const uint32_t type = le32_to_cpu(a->type);
    const std::string name = AttributeNameText(a);
    errno = 0;
    runlist_element* rl = ntfs_mapping_pairs_decompress(vol_, a, nullptr);
    if (!rl) {
      AddUnreadable(report_, where + ": runlist of attribute 0x" + HexText(type) +
                                 " cannot be decoded");
      return;
    }
    VCN decoded_end = sle64_to_cpu(a->lowest_vcn);
    for (runlist_element* run = rl; run->length; ++run) {
      if (run->lcn == LCN_RL_NOT_MAPPED) continue;  // the part before lowest_vcn
      if (run->length < 0 || !CheckedAdd(run->vcn, run->length, &decoded_end)) {
        AddChainProblem(report_, base, type, name, where + ": a run's length is out of range");
        break;
      }
      if (run->lcn < 0) continue;  // a hole owns nothing
      if (!RunWithinVolume(vol_, run->lcn, run->length)) {
        AddChainProblem(report_, base, type, name,
                        where + ": run at LCN " + std::to_string(run->lcn) + " of " +
                            std::to_string(run->length) + " clusters ends past the volume");
        continue;
      }
      owners_.Claim(run->lcn, run->length);
    }
    free(rl);
    chains_.Add(base, a, name, decoded_end, where, report_);
  }

  enum Kind { kAgrees, kCross, kLeak, kUnmarked };

  // Extends the open span of `kind` to cluster `c`, closing the one before.
  void Track(Kind kind, LCN c) {
    if (kind == open_kind_) return;
    if (open_kind_ != kAgrees) {
      auto* list = open_kind_ == kCross  ? &report_->cross_linked
                   : open_kind_ == kLeak ? &report_->leaked
                                         : &report_->unmarked;
      if (list->size() < ConsistencyReport::kMaxSpans) list->push_back({open_start_, c - open_start_, {}});
    }
    open_kind_ = kind;
    open_start_ = c;
  }

  // One 64-cluster word of the bitmap against the owners.
  void CompareWord(LCN base, uint64_t marked) {
    const s64 clusters = vol_->nr_clusters;
    const uint64_t valid = clusters - base >= 64 ? ~uint64_t{0} : (uint64_t{1} << (clusters - base)) - 1;
    marked &= valid;
    const uint64_t owned = owners_.OwnedWord(static_cast<size_t>(base / 64)) & valid;
    const uint64_t crossed = owners_.CrossedWord(static_cast<size_t>(base / 64));
    report_->marked_used += static_cast<uint64_t>(std::popcount(marked));
    report_->owned += static_cast<uint64_t>(std::popcount(owned));
    if (!crossed && marked == owned) {  // the usual case: all agree
      Track(kAgrees, base);
      return;
    }
    for (LCN c = base; c < std::min<LCN>(base + 64, clusters); ++c) {
      const uint64_t bit = uint64_t{1} << (c - base);
      Kind kind = kAgrees;
      if (crossed & bit) kind = kCross, ++report_->cross_linked_clusters;
      else if ((marked & bit) && !(owned & bit)) kind = kLeak, ++report_->leaked_clusters;
      else if ((owned & bit) && !(marked & bit)) kind = kUnmarked, ++report_->unmarked_clusters;
      Track(kind, c);
    }
  }

  uint32_t CompareWithBitmap() {
    const s64 clusters = vol_->nr_clusters;
    std::vector<u8> chunk;
    for (s64 first_byte = 0; first_byte * 8 < clusters; first_byte += kBitmapChunk) {
      const s64 bytes = std::min<s64>(kBitmapChunk, (clusters + 7) / 8 - first_byte);
      chunk.assign(static_cast<size_t>((bytes + 7) / 8 * 8), 0);
      errno = 0;
      const s64 got = ntfs_attr_pread(vol_->lcnbmp_na, first_byte, bytes, chunk.data());
      if (got != bytes) return got < 0 ? CodeFromErrno(errno) : kErrorReadFault;
      for (s64 w = 0; w * 8 < bytes; ++w) {
        uint64_t marked = 0;
        std::memcpy(&marked, chunk.data() + w * 8, 8);
        CompareWord((first_byte + w * 8) * 8, le64_to_cpu(marked));
      }
    }
    Track(kAgrees, clusters);
    return kErrorSuccess;
  }

  ntfs_volume* vol_;
  ConsistencyReport* report_;
  ClusterOwners owners_;
  ExtentChains chains_;
  AttributeLists lists_;
  Kind open_kind_ = kAgrees;
  LCN open_start_ = 0;
};

// Adds `owner` to every cross-linked span [lcn, lcn + length) touches.
void NoteOwner(ConsistencyReport* report, LCN lcn, s64 length, uint64_t owner) {
  for (ClusterSpan& span : report->cross_linked) {
    if (span.lcn < lcn + length && lcn < span.lcn + span.length &&
        std::find(span.owners.begin(), span.owners.end(), owner) == span.owners.end())
      span.owners.push_back(owner);
  }
}

void NoteOwners(ntfs_volume* vol, ConsistencyReport* report, const MFT_RECORD* m,
                uint64_t number) {
  if (!InUse(m)) return;
  const uint64_t base = BaseOf(m, number);
  AttributeWalk walk(m, vol->mft_record_size);
  while (const ATTR_RECORD* a = walk.Next()) {
    if (!a->non_resident) continue;
    runlist_element* rl = ntfs_mapping_pairs_decompress(vol, a, nullptr);
    if (!rl) continue;
    VCN end = 0;
    for (runlist_element* run = rl; run->length; ++run) {
      if (run->length < 0 || !CheckedAdd(run->vcn, run->length, &end)) break;
      if (run->lcn >= 0 && RunWithinVolume(vol, run->lcn, run->length))
        NoteOwner(report, run->lcn, run->length, base);
    }
    free(rl);
  }
}

}  // namespace

uint32_t ScanOwnership(ntfs_volume* vol, ConsistencyReport* report,
                       std::vector<uint64_t>* owned) {
  Scan scan(vol, report);
  const uint32_t result = scan.Run();
  if (owned) owned->swap(scan.owned_words());
  return result;
}

uint32_t FindCrossLinkOwners(ntfs_volume* vol, ConsistencyReport* report) {
  if (report->cross_linked.empty()) return kErrorSuccess;
  return ForEachRecord(
      vol,
      [&](MFT_RECORD* m, uint64_t number) {
        if (!ntfs_is_baad_record(m->magic)) NoteOwners(vol, report, m, number);
      },
      [](uint64_t) {});
}

void AddUnreadable(ConsistencyReport* report, std::string what) {
  if (report->unreadable.size() < ConsistencyReport::kMaxSpans)
    report->unreadable.push_back(std::move(what));
  else ++report->unlisted_problems;
}

void AddUnreadableFile(ConsistencyReport* report, std::string what) {
  if (report->unreadable_files.size() < ConsistencyReport::kMaxSpans)
    report->unreadable_files.push_back(std::move(what));
  else ++report->unlisted_problems;
}

void AddChainProblem(ConsistencyReport* report, uint64_t base, uint32_t type,
                     const std::string& name, std::string problem) {
  if (report->broken_chains.size() < ConsistencyReport::kMaxSpans)
    report->broken_chains.push_back({base, type, name, std::move(problem)});
  else ++report->unlisted_problems;
}

std::string HexText(uint64_t value) {
  char text[24];
  snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace shardix::ntfsimage
