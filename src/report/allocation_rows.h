// The rows of the Volume Info lists: their cell texts, and sorting the
// allocation list by a clicked column.
#pragma once

#include <cstdint>
#include <string>

namespace shardix {

// One run of the volume as the analysis reports it.
struct AllocationRow {
  uint64_t first_lcn = 0;
  uint64_t length = 0;
  bool in_use = false;
};

// The three cells of an allocation row: "%llu - %llu" of the first and last
// cluster, "%llu" of the length, "In-Use" or "Free".
struct AllocationRowText {
  std::string range;
  std::string clusters;
  std::string state;
};
AllocationRowText FormatAllocationRow(const AllocationRow& row);

struct SummaryRowText {
  std::string label;
  std::string value;
};

// Kept for the life of the process: closing the dialog does not reset it,
// and the next opening's first click continues from it.
struct AllocationSortState {
  int column = 0;
  bool ascending = true;
};
AllocationSortState& ProcessAllocationSortState();

// The sort key for a click on `column`: column + 1 ascending, -(column + 1)
// descending (never 0). A second click on the same column flips the order; a
// click on another column sorts it ascending.
int NextAllocationSortKey(AllocationSortState& state, int column);

// Negative when `text1` goes first, positive when `text2` does, 0 when equal,
// for the column and direction of `sort_key`. The texts are the cells of
// that column: column 0 compares the leading number (the first cluster),
// column 1 the whole number, column 2 (and any other) the bytes as strcmp.
int CompareAllocationRows(const char* text1, const char* text2, int sort_key);

// The same order over rows that are held as numbers, without formatting
// their cells.
int CompareAllocationRows(const AllocationRow& row1, const AllocationRow& row2, int sort_key);

}  // namespace shardix
