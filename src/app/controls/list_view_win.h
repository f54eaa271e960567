// The program's report-view lists: their columns, created right-aligned
// with full-row selection and sized so that the last column fills the rest
// of the list beside a vertical scroll bar, never behind it; and the cell
// texts of the virtual lists, given when the list asks for them.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

namespace shardix {

struct ListColumn {
  const char* title;
  int width;  // pixels; the last column's only until FitListColumns
};

// Whether the first column reads right-aligned too. The list control aligns
// a first column left whatever it is asked for; the remedy is to create a
// placeholder first column, add the real ones after it and delete it.
enum class FirstColumnAlignment { kAsTheControlDoes, kRight };

// Adds `count` columns to an empty `list`, all asked to be right-aligned,
// switches on full-row selection as the only extended style, and fits them.
void InsertListColumns(HWND list, const ListColumn* columns, int count, FirstColumnAlignment first);

// Every column but the last at its width, the last filling what is left of
// the list's width (at least its title's width). A vertical scroll bar that
// the rows need but that the list has not shown yet is allowed for, so no
// horizontal scroll bar hides the right-hand column. Call it after the rows
// are in and the list draws again.
void FitListColumns(HWND list, const ListColumn* columns, int count);

// A virtual list asks for a cell's text (LVN_GETDISPINFOA or W): whether it
// wants text, and for which row and column.
bool CellTextWanted(const NMHDR* request, int* row, int* column);
// Answers it with `text`, cut to the list's buffer.
void AnswerCellText(NMHDR* request, const std::string& text);

}  // namespace shardix
