// The rows of the fragment list (control 1061), a virtual list: the rows'
// numbers are kept beside the control in the order shown, the control asks
// for a cell's text only when it draws or is read, and sorting reorders
// the numbers. So a file of 100 000 fragments lists at once, reading a row
// back never parses cell texts, and sorting never depends on how the
// control numbers its items. Window thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>

#include "display/display.h"

namespace shardix {

// The three columns, all right-aligned; the last fills the list.
void InitFragmentList(HWND window);

// Deletes every row.
void ClearFragmentRows(HWND window);
// Appends a row: "%llu" of the number, the clusters and the LCN.
void AddFragmentListRow(HWND window, const FragmentRow& row);
std::size_t FragmentListRowCount(HWND window);
// The row at `index` in the list's current order.
FragmentRow FragmentListRowAt(HWND window, std::size_t index);
// Shows the rows added so far and fits the columns to them: columns 0 and
// 1 at 85 pixels, column 2 filling the rest beside the scroll bar.
void FitFragmentListColumns(HWND window);

// The list asks for a cell's text (LVN_GETDISPINFOA or W): the decimal
// number.
void FragmentListCellText(HWND window, NMHDR* request);

// The main window closes: its rows go.
void ForgetFragmentRows(HWND window);

}  // namespace shardix
