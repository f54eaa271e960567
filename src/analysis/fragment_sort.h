// Sorting the fragment list by a clicked column.
#pragma once

#include "display/display.h"

namespace shardix {

// Kept for the life of the process; a new analysis does not reset it.
struct FragmentSortState {
  int column = 0;
  bool ascending = true;
};

// The sort value for a click on `column`: column + 1 ascending, -(column + 1)
// descending. A second click on the same column flips the order; a click on
// another column sorts it ascending.
int NextFragmentSortValue(FragmentSortState& state, int column);

// Negative, zero or positive as `first` sorts before, with or after
// `second` for `sort_value`; every cell compares as an unsigned number.
int CompareFragmentRows(const FragmentRow& first, const FragmentRow& second, int sort_value);

}  // namespace shardix
