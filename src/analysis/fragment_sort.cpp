#include "analysis/fragment_sort.h"

#include <cstdlib>

namespace shardix {

int NextFragmentSortValue(FragmentSortState& state, int column) {
  if (column == state.column) {
    state.ascending = !state.ascending;
  } else {
    state.column = column;
    state.ascending = true;
  }
  return state.ascending ? column + 1 : -(column + 1);
}

int CompareFragmentRows(const FragmentRow& first, const FragmentRow& second, int sort_value) {
  bool ascending = sort_value > 0;
  int column = std::abs(sort_value) - 1;
  auto cell = [column](const FragmentRow& row) {
    return column == 0 ? row.number : column == 1 ? row.clusters : row.lcn;
  };
  uint64_t a = cell(first), b = cell(second);
  int order = a < b ? -1 : a > b ? 1 : 0;
  return ascending ? order : -order;
}

}  // namespace shardix
