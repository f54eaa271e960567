#include "report/bitmap_runs.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "volume/bitmap_words.h"

namespace shardix {

namespace {

// Whether `bits` holds a run of set bits longer than `limit`. Runs inside
// a word are at most 63 long, so a limit of 63 or more answers at once;
// otherwise each step shortens every run by one.
bool HasRunLongerThan(uint64_t bits, uint64_t limit) {
  if (limit >= 63) return false;
  for (uint64_t i = 0; i < limit && bits; ++i) bits &= bits >> 1;
  return bits != 0;
}

}  // namespace

LongestRuns::LongestRuns(FreeRun* table, uint64_t count) : table_(table) {
  heap_.resize(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < heap_.size(); ++i) heap_[i] = i;
  // All records are zero: index order is already heap order.
}

void LongestRuns::Offer(uint64_t lcn, uint64_t length) {
  if (heap_.empty()) return;
  const std::size_t shortest = heap_.front();
  if (length <= table_[shortest].length) return;
  std::pop_heap(heap_.begin(), heap_.end(), Later{table_});
  table_[shortest] = {lcn, length};
  std::push_heap(heap_.begin(), heap_.end(), Later{table_});
}

uint64_t LongestRuns::Threshold() const {
  return heap_.empty() ? std::numeric_limits<uint64_t>::max() : table_[heap_.front()].length;
}

void RunWalker::Account(uint64_t first, uint64_t length, bool in_use) {
  if (in_use) {
    totals_.occupied += length;
    totals_.longest_occupied = std::max(totals_.longest_occupied, length);
  } else {
    totals_.free += length;
    totals_.longest_free = std::max(totals_.longest_free, length);
    if (table_) table_->Offer(first, length);
  }
  if (rows_) rows_->push_back({first, length, in_use});
}

// The runs that lie wholly inside a word change nothing but the totals
// when no row is listed and none is longer than the longest run of its
// state so far, nor (free) than the table's shortest record.
bool RunWalker::CanOnlyCount(uint64_t used_bits, uint64_t free_bits) const {
  if (rows_) return false;
  const uint64_t free_limit =
      std::min(totals_.longest_free, table_ ? table_->Threshold() : totals_.longest_free);
  return !HasRunLongerThan(used_bits, totals_.longest_occupied) &&
         !HasRunLongerThan(free_bits, free_limit);
}

void RunWalker::Word(uint64_t word, uint64_t base, unsigned valid) {
  if (!started_) {
    started_ = true;
    state_ = word & 1;
    run_first_ = base;
  }
  // Bit i of `changes` is set where cluster base + i differs from the one
  // before it.
  const uint64_t before = state_ ? 1 : 0;
  uint64_t changes = word ^ (word << 1 | before);
  if (valid < 64) changes &= (uint64_t{1} << valid) - 1;
  if (changes == 0) return;

  const unsigned first = static_cast<unsigned>(std::countr_zero(changes));
  Account(run_first_, base + first - run_first_, state_);
  const unsigned last = 63u - static_cast<unsigned>(std::countl_zero(changes));
  if (last > first) {
    // The runs from `first` up to `last` lie wholly in this word.
    const uint64_t inside = (~uint64_t{0} << first) & ((uint64_t{1} << last) - 1);
    const uint64_t used = word & inside, free = ~word & inside;
    if (CanOnlyCount(used, free)) {
      const uint64_t used_count = CountSetBits(used);
      totals_.occupied += used_count;
      totals_.free += static_cast<uint64_t>(last - first) - used_count;
    } else {
      uint64_t rest = changes & (changes - 1);
      unsigned start = first;
      while (rest) {
        const unsigned at = static_cast<unsigned>(std::countr_zero(rest));
        Account(base + start, at - start, (word >> start) & 1);
        start = at;
        rest &= rest - 1;
      }
    }
  }
  run_first_ = base + last;
  state_ = (word >> last) & 1;
}

void RunWalker::Feed(const uint8_t* bits, uint64_t byte_count, uint64_t first_cluster) {
  const uint64_t words = (byte_count + 7) / 8;
  const uint64_t whole_words = std::min(byte_count / 8, n_ > first_cluster ? (n_ - first_cluster) / 64 : 0);
  uint64_t w = 0;
  while (w < words) {
    if (started_) {
      // A run that goes on over whole words: compared a word at a time.
      const uint64_t fill = state_ ? ~uint64_t{0} : 0;
      for (uint64_t word; w < whole_words; ++w) {
        std::memcpy(&word, bits + w * 8, 8);
        if (word != fill) break;
      }
      if (w == words) return;
    }
    const uint64_t base = first_cluster + w * 64;
    if (base >= n_) return;
    const unsigned valid = static_cast<unsigned>(std::min<uint64_t>(64, n_ - base));
    Word(LoadBitmapWord(bits, byte_count, w), base, valid);
    ++w;
  }
}

void RunWalker::Finish() {
  if (started_ && n_ > run_first_) Account(run_first_, n_ - run_first_, state_);
  started_ = false;
}

}  // namespace shardix
