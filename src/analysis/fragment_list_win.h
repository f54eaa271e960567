// The rows of the fragment list (control 1061). Each row's numbers are kept
// beside the control, keyed by the item's lParam, so reading a row back and
// sorting by a column never parse cell texts and never depend on how the
// list control numbers its items while it sorts. Window thread only.
#pragma once

#include <windows.h>

#include <cstddef>

#include "display/display.h"

namespace shardix {

// Deletes every row.
void ClearFragmentRows(HWND window);
// Appends a row: "%llu" of the number, the clusters and the LCN.
void AddFragmentListRow(HWND window, const FragmentRow& row);
std::size_t FragmentListRowCount(HWND window);
// The row at `index` in the list's current order.
FragmentRow FragmentListRowAt(HWND window, std::size_t index);
// Columns 0 and 1 at 85 pixels, column 2 filling the rest.
void FitFragmentListColumns(HWND window);

}  // namespace shardix
