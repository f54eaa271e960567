// A consistency check of an NTFS image: cluster usage rebuilt from every
// in-use file record's runlists, compared with the volume bitmap; each
// file's attribute list followed as a reader follows it; the boot sector
// against its backup. It is the oracle the tests trust after moving
// clusters, and `shardix check`.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace shardix {

struct ClusterSpan {
  int64_t lcn = 0;
  int64_t length = 0;
  std::vector<uint64_t> owners;  // MFT record numbers (of the base records), cross-links only
};

struct BrokenChain {
  uint64_t mft_record = 0;       // the base record of the attribute
  uint32_t attribute_type = 0;   // 0x80 for $DATA, ...
  std::string attribute_name;
  std::string problem;
};

struct ConsistencyReport {
  std::string image;
  uint64_t total_clusters = 0;
  uint32_t cluster_size = 0;
  uint64_t records_checked = 0;   // in-use MFT records read
  uint64_t marked_used = 0;       // set bits in the volume bitmap
  uint64_t owned = 0;             // clusters claimed by at least one attribute
  uint64_t free_by_library = 0;   // the library's own free count
  std::string journal;            // what a pending journal held and what became of it; "" none
  std::string in_use;             // why the image is in use elsewhere; "" when it is not
  bool interrupted = false;       // marked as being changed, and no journal fits it

  // Problems. Span lists hold at most kMaxSpans entries each; the cluster
  // counts always count them all.
  static constexpr size_t kMaxSpans = 1000;
  std::vector<ClusterSpan> cross_linked;
  uint64_t cross_linked_clusters = 0;
  std::vector<ClusterSpan> leaked;        // marked used, owned by nobody
  uint64_t leaked_clusters = 0;
  std::vector<ClusterSpan> unmarked;      // owned, marked free
  uint64_t unmarked_clusters = 0;
  std::vector<BrokenChain> broken_chains;
  std::vector<std::string> unreadable;    // records or attributes that could not be decoded
  // Files a reader would fail on although their records decode: their
  // attribute list and the records it names disagree. "PATH (record N): why".
  std::vector<std::string> unreadable_files;
  std::string boot_sectors;  // how the boot sector and its backup disagree; "" when they agree
  std::vector<uint64_t> empty_extension_records;  // in use, hold nothing
  // Problems beyond kMaxSpans in the lists of broken chains, unreadable
  // records and files, and empty records: counted, not listed, so a ruined volume cannot take all
  // memory.
  uint64_t unlisted_problems = 0;

  uint64_t free_by_bitmap() const { return total_clusters - marked_used; }
  uint64_t free_by_owners() const { return total_clusters - owned; }
  bool free_count_agrees() const {
    return free_by_bitmap() == free_by_owners() && free_by_bitmap() == free_by_library;
  }
  bool clean() const {
    return cross_linked_clusters == 0 && leaked_clusters == 0 && unmarked_clusters == 0 &&
           broken_chains.empty() && unreadable.empty() && unreadable_files.empty() &&
           boot_sectors.empty() && empty_extension_records.empty() && unlisted_problems == 0 &&
           !interrupted &&
           free_count_agrees();
  }
};

// Plays back a pending journal (unless the image is in use elsewhere), then
// opens `image` read-only and checks it. Returns 0 when the check ran (the
// report then says whether the volume is clean), or the Windows code of what
// kept it from running: ERROR_SHARING_VIOLATION while this process has the
// image mounted for writing, ERROR_UNRECOGNIZED_VOLUME for a non-NTFS image.
uint32_t CheckImageConsistency(const std::string& image, ConsistencyReport* report);

// The report as lines of text, ending with "Result: clean" or the number of
// problems found.
void WriteConsistencyReport(const ConsistencyReport& report, std::ostream& out);

}  // namespace shardix
