// The fragment list's rows and their sorting by a clicked column.
#include "app/controls/fragment_list_win.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "analysis/fragment_sort.h"
#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/controls/list_view_win.h"
#include "app/ui_services_win.h"
#include "resource.h"

namespace shardix {
namespace {

constexpr ListColumn kColumns[] = {{"Fragment #", 85}, {"Clusters", 85}, {"Fragment Location (LCN)", 85}};
constexpr int kColumnCount = 3;

// The rows of the main window's list in the order shown. Another main
// window starts afresh. The list's handle is kept: looking a control up
// costs a round trip to the window system on some systems, too much for
// every one of 100 000 rows.
struct FragmentRowTable {
  HWND window = nullptr;
  HWND list = nullptr;
  std::vector<FragmentRow> rows;
  bool failure_reported = false;  // one box per filling, not one per row
  bool redraw_suspended = false;
  DWORD last_change = 0;  // tick count of the last row added or removed
};

// Rows arrive one at a time; the list stops drawing while they do, learns
// their number once they are in (FitFragmentListColumns), or at the latest
// once none has arrived for this long.
constexpr UINT_PTR kListRedrawTimer = 0x5349;
constexpr DWORD kListQuietMs = 50;

FragmentRowTable g_table;

FragmentRowTable& TableOf(HWND window) {
  if (g_table.window != window || g_table.list == nullptr) {
    g_table = FragmentRowTable{};
    g_table.window = window;
    g_table.list = GetDlgItem(window, IDC_FRAGMENT_LIST);
  }
  return g_table;
}

// Tells the control how many rows there are, keeping its scroll position.
void ShowRowCount(FragmentRowTable& table) {
  const auto count = static_cast<WPARAM>(table.rows.size());
  if (static_cast<WPARAM>(SendMessageA(table.list, LVM_GETITEMCOUNT, 0, 0)) == count) return;
  SendMessageA(table.list, LVM_SETITEMCOUNT, count, LVSICF_NOSCROLL);
}

void ResumeListRedraw(FragmentRowTable& table) {
  ShowRowCount(table);
  if (!table.redraw_suspended) return;
  table.redraw_suspended = false;
  SendMessageA(table.list, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(table.list, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void CALLBACK ResumeListRedrawWhenQuiet(HWND window, UINT, UINT_PTR timer, DWORD now) {
  FragmentRowTable& table = TableOf(window);
  if (table.redraw_suspended && now - table.last_change < kListQuietMs) return;
  KillTimer(window, timer);
  ResumeListRedraw(table);
}

// Called for every change of the rows: the list draws again once they stop
// changing (or at once when no timer can be had).
void HoldListRedraw(HWND window, FragmentRowTable& table) {
  table.last_change = GetTickCount();
  if (table.redraw_suspended) return;
  if (!SetTimer(window, kListRedrawTimer, kListQuietMs, ResumeListRedrawWhenQuiet)) return;
  table.redraw_suspended = true;
  SendMessageA(table.list, WM_SETREDRAW, FALSE, 0);
}

uint64_t CellValue(const FragmentRow& row, int column) {
  switch (column) {
    case 0: return row.number;
    case 1: return row.clusters;
    default: return row.lcn;
  }
}

// The fragment number of the selected row, or 0 when none is selected.
uint64_t SelectedNumber(const FragmentRowTable& table) {
  const auto index = static_cast<int>(SendMessageA(table.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (index < 0 || static_cast<std::size_t>(index) >= table.rows.size()) return 0;
  return table.rows[static_cast<std::size_t>(index)].number;
}

void SetItemState(HWND list, int index, UINT state, UINT mask) {
  LVITEMA item = {};
  item.state = state;
  item.stateMask = mask;
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

void InitFragmentList(HWND window) {
  InsertListColumns(TableOf(window).list, kColumns, kColumnCount, FirstColumnAlignment::kRight);
}

void ForgetFragmentRows(HWND window) {
  if (g_table.window == window) g_table = FragmentRowTable{};
}

void ClearFragmentRows(HWND window) {
  FragmentRowTable& table = TableOf(window);
  HWND list = table.list;
  HoldListRedraw(window, table);
  if (!SendMessageA(list, LVM_DELETEALLITEMS, 0, 0)) {
    ReportSystemError(window, "LVM_DELETEALLITEMS Error", ERROR_INVALID_WINDOW_HANDLE, MB_ICONERROR);
    return;
  }
  table.rows.clear();
  table.failure_reported = false;
}

void AddFragmentListRow(HWND window, const FragmentRow& row) {
  FragmentRowTable& table = TableOf(window);
  try {
    table.rows.push_back(row);
  } catch (const std::bad_alloc&) {
    if (!table.failure_reported) {
      table.failure_reported = true;
      ReportSystemError(window, "Fragment list Error", ERROR_NOT_ENOUGH_MEMORY, MB_ICONERROR);
    }
    return;
  }
  HoldListRedraw(window, table);
  if (!table.redraw_suspended) ShowRowCount(table);  // no timer: shown row by row
}

std::size_t FragmentListRowCount(HWND window) { return TableOf(window).rows.size(); }

FragmentRow FragmentListRowAt(HWND window, std::size_t index) {
  const FragmentRowTable& table = TableOf(window);
  return index < table.rows.size() ? table.rows[index] : FragmentRow{0, 0, 0};
}

void FitFragmentListColumns(HWND window) {
  FragmentRowTable& table = TableOf(window);
  HWND list = table.list;
  // The rows are in: the list draws again first, so that the scroll bar
  // the rows need is there when the columns are sized.
  if (table.redraw_suspended) KillTimer(window, kListRedrawTimer);
  ResumeListRedraw(table);
  FitListColumns(list, kColumns, kColumnCount);
}

void FragmentListCellText(HWND window, NMHDR* request) {
  const FragmentRowTable& table = TableOf(window);
  int row = 0, column = 0;
  if (!CellTextWanted(request, &row, &column)) return;
  std::string text;
  if (row >= 0 && static_cast<std::size_t>(row) < table.rows.size()) {
    text = std::to_string(CellValue(table.rows[static_cast<std::size_t>(row)], column));
  }
  AnswerCellText(request, text);
}

// The rows are reordered beside the control, whole rows together; rows that
// compare equal keep their order. The selected row stays selected.
void SortFragmentList(NMLISTVIEW* notification) {
  HWND list = notification->hdr.hwndFrom;
  FragmentRowTable& table = TableOf(GetParent(list));
  const int sort_value = NextFragmentSortValue(g_app.fragment_sort, notification->iSubItem);
  const uint64_t selected = SelectedNumber(table);
  std::stable_sort(table.rows.begin(), table.rows.end(), [sort_value](const FragmentRow& a, const FragmentRow& b) {
    return CompareFragmentRows(a, b, sort_value) < 0;
  });
  if (selected != 0) {
    SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    const auto found = std::find_if(table.rows.begin(), table.rows.end(),
                                    [selected](const FragmentRow& row) { return row.number == selected; });
    SetItemState(list, static_cast<int>(found - table.rows.begin()), LVIS_SELECTED | LVIS_FOCUSED,
                 LVIS_SELECTED | LVIS_FOCUSED);
  }
  InvalidateRect(list, nullptr, FALSE);
}

}  // namespace shardix
