#include "report/allocation_rows.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace shardix {

namespace {

// The number at the start of a cell, read as "%llu" reads it (0 when there
// is none).
uint64_t LeadingNumber(const char* text) { return std::strtoull(text, nullptr, 10); }

template <typename T>
int Order(const T& a, const T& b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

AllocationRowText FormatAllocationRow(const AllocationRow& row) {
  char range[64], clusters[32];
  std::snprintf(range, sizeof range, "%" PRIu64 " - %" PRIu64, row.first_lcn,
                row.first_lcn + row.length - 1);
  std::snprintf(clusters, sizeof clusters, "%" PRIu64, row.length);
  return {range, clusters, row.in_use ? "In-Use" : "Free"};
}

AllocationSortState& ProcessAllocationSortState() {
  static AllocationSortState state;
  return state;
}

int NextAllocationSortKey(AllocationSortState& state, int column) {
  if (column == state.column) {
    state.ascending = !state.ascending;
  } else {
    state.column = column;
    state.ascending = true;
  }
  return state.ascending ? column + 1 : -(column + 1);
}

int CompareAllocationRows(const char* text1, const char* text2, int sort_key) {
  const bool ascending = sort_key > 0;
  const int column = std::abs(sort_key) - 1;
  int order;
  if (column == 0 || column == 1)
    order = Order(LeadingNumber(text1), LeadingNumber(text2));
  else
    order = Order(std::strcmp(text1, text2), 0);
  return ascending ? order : -order;
}

int CompareAllocationRows(const AllocationRow& row1, const AllocationRow& row2, int sort_key) {
  const bool ascending = sort_key > 0;
  const int column = std::abs(sort_key) - 1;
  int order;
  if (column == 0)
    order = Order(row1.first_lcn, row2.first_lcn);
  else if (column == 1)
    order = Order(row1.length, row2.length);
  else
    order = Order(row1.in_use, row2.in_use);  // "Free" sorts before "In-Use"
  return ascending ? order : -order;
}

}  // namespace shardix
