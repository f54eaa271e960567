// Cutting a volume bitmap into runs of used and free clusters, 64 clusters
// at a time, fed in pieces as they are read. Within a word the runs are
// found from the word's changes of state (one step per run, none per
// cluster); where nothing needs the single runs of a word (no list is
// filled and none of them is longer than the records it could beat), the
// word's runs are only counted.
#pragma once

#include <cstdint>
#include <vector>

#include "report/allocation_rows.h"
#include "report/volume_analysis.h"

namespace shardix {

// The caller's table of the longest free runs. A run enters when it is
// strictly longer than the shortest record kept, and replaces the shortest
// record with the lowest index. A heap ordered by (length, index) finds that
// record in log(count) steps, where a rescan of the table would cost
// count steps per replacement.
class LongestRuns {
 public:
  LongestRuns(FreeRun* table, uint64_t count);
  void Offer(uint64_t lcn, uint64_t length);
  // A free run no longer than this does not enter.
  uint64_t Threshold() const;

 private:
  struct Later {
    const FreeRun* table;
    bool operator()(std::size_t a, std::size_t b) const {
      if (table[a].length != table[b].length) return table[a].length > table[b].length;
      return a > b;
    }
  };
  FreeRun* table_;
  std::vector<std::size_t> heap_;  // the record replaced first at the front
};

struct RunTotals {
  uint64_t occupied = 0;
  uint64_t free = 0;
  uint64_t longest_occupied = 0;
  uint64_t longest_free = 0;
};

class RunWalker {
 public:
  // `rows` (one per run, in cluster order) and `table` may be null.
  RunWalker(uint64_t cluster_count, std::vector<AllocationRow>* rows, LongestRuns* table)
      : n_(cluster_count), rows_(rows), table_(table) {}

  // The next `byte_count` bytes of the bitmap, from cluster `first_cluster`
  // on (a multiple of 64, where the last piece ended). Bits at or past the
  // cluster count are not looked at.
  void Feed(const uint8_t* bits, uint64_t byte_count, uint64_t first_cluster);
  // Ends the last run; the totals are then complete.
  void Finish();

  const RunTotals& totals() const { return totals_; }

 private:
  void Account(uint64_t first, uint64_t length, bool in_use);
  void Word(uint64_t word, uint64_t base, unsigned valid);
  bool CanOnlyCount(uint64_t used_bits, uint64_t free_bits) const;

  uint64_t n_;
  std::vector<AllocationRow>* rows_;
  LongestRuns* table_;
  RunTotals totals_;
  bool started_ = false;
  bool state_ = false;       // the state of the run in progress
  uint64_t run_first_ = 0;   // its first cluster
};

}  // namespace shardix
