// The fragment list's rows and their sorting by a clicked column.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <new>
#include <vector>

#include "analysis/fragment_list_win.h"
#include "analysis/fragment_sort.h"
#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/ui_services_win.h"
#include "resource.h"

namespace shardix {
namespace {

// The numbers of the rows of one list control; an item's lParam is its
// index here. A list of another window (a new main window) starts afresh.
struct FragmentRowTable {
  HWND list = nullptr;
  std::vector<FragmentRow> rows;
  bool failure_reported = false;  // one box per filling, not one per row
  bool redraw_suspended = false;
  DWORD last_change = 0;  // tick count of the last row added or removed
};

// A list that redraws after every row takes a long time to fill on some
// systems (some 20 ms a row under Wine), so the list stops drawing while
// rows arrive and draws again once none has arrived for this long.
constexpr UINT_PTR kListRedrawTimer = 0x5349;
constexpr DWORD kListQuietMs = 50;

FragmentRowTable& TableOf(HWND list) {
  static FragmentRowTable table;
  if (table.list != list) {
    table = FragmentRowTable{};
    table.list = list;
  }
  return table;
}

HWND ListOf(HWND window) { return GetDlgItem(window, IDC_FRAGMENT_LIST); }

void ResumeListRedraw(FragmentRowTable& table) {
  table.redraw_suspended = false;
  SendMessageA(table.list, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(table.list, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void CALLBACK ResumeListRedrawWhenQuiet(HWND window, UINT, UINT_PTR timer, DWORD now) {
  FragmentRowTable& table = TableOf(ListOf(window));
  if (table.redraw_suspended && now - table.last_change < kListQuietMs) return;
  KillTimer(window, timer);
  if (table.redraw_suspended) ResumeListRedraw(table);
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

void ReportRowFailure(HWND window, FragmentRowTable& table, const char* caption, DWORD code) {
  if (table.failure_reported) return;
  table.failure_reported = true;
  ReportSystemError(window, caption, code, MB_ICONERROR);
}

void SetCell(HWND list, int item, int column, uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
  LVITEMA cell = {};
  cell.iSubItem = column;
  cell.pszText = text;
  SendMessageA(list, LVM_SETITEMTEXTA, item, reinterpret_cast<LPARAM>(&cell));
}

struct SortRequest {
  const std::vector<FragmentRow>* rows;
  int sort_value;
};

int CALLBACK CompareFragmentItems(LPARAM first, LPARAM second, LPARAM request_address) {
  const auto* request = reinterpret_cast<const SortRequest*>(request_address);
  const std::vector<FragmentRow>& rows = *request->rows;
  if (static_cast<std::size_t>(first) >= rows.size() || static_cast<std::size_t>(second) >= rows.size())
    return 0;
  return CompareFragmentRows(rows[first], rows[second], request->sort_value);
}

}  // namespace

void ClearFragmentRows(HWND window) {
  HWND list = ListOf(window);
  FragmentRowTable& table = TableOf(list);
  HoldListRedraw(window, table);
  if (!SendMessageA(list, LVM_DELETEALLITEMS, 0, 0)) {
    ReportSystemError(window, "LVM_DELETEALLITEMS Error", ERROR_INVALID_WINDOW_HANDLE, MB_ICONERROR);
    return;
  }
  table.rows.clear();
  table.failure_reported = false;
}

void AddFragmentListRow(HWND window, const FragmentRow& row) {
  HWND list = ListOf(window);
  FragmentRowTable& table = TableOf(list);
  try {
    table.rows.push_back(row);
  } catch (const std::bad_alloc&) {
    ReportRowFailure(window, table, "Fragment list Error", ERROR_NOT_ENOUGH_MEMORY);
    return;
  }
  HoldListRedraw(window, table);
  char text[32];
  std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(row.number));
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = 0x7FFFFFFF;  // at the end
  item.pszText = text;
  item.lParam = static_cast<LPARAM>(table.rows.size() - 1);
  const int index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (index < 0) {
    table.rows.pop_back();
    ReportRowFailure(window, table, "LVM_INSERTITEM Error", ERROR_NOT_ENOUGH_MEMORY);
    return;
  }
  SetCell(list, index, 1, row.clusters);
  SetCell(list, index, 2, row.lcn);
}

std::size_t FragmentListRowCount(HWND window) {
  const LRESULT count = SendMessageA(ListOf(window), LVM_GETITEMCOUNT, 0, 0);
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

FragmentRow FragmentListRowAt(HWND window, std::size_t index) {
  HWND list = ListOf(window);
  const FragmentRowTable& table = TableOf(list);
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = static_cast<int>(index);
  if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) || item.lParam < 0 ||
      static_cast<std::size_t>(item.lParam) >= table.rows.size()) {
    return FragmentRow{0, 0, 0};
  }
  return table.rows[static_cast<std::size_t>(item.lParam)];
}

void FitFragmentListColumns(HWND window) {
  HWND list = ListOf(window);
  SendMessageA(list, LVM_SETCOLUMNWIDTH, 0, 85);
  SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, 85);
  SendMessageA(list, LVM_SETCOLUMNWIDTH, 2, LVSCW_AUTOSIZE_USEHEADER);
}

// Sorted through the items' lParams (LVM_SORTITEMS) rather than their
// indexes: some list controls hand an index-based comparison the indexes of
// a working copy, which then reads the wrong rows.
void SortFragmentList(NMLISTVIEW* notification) {
  HWND list = notification->hdr.hwndFrom;
  const FragmentRowTable& table = TableOf(list);
  const SortRequest request{&table.rows, NextFragmentSortValue(g_app.fragment_sort, notification->iSubItem)};
  if (!SendMessageA(list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&request),
                    reinterpret_cast<LPARAM>(CompareFragmentItems))) {
    ReportSystemError(GetParent(list), "LVM_SORTITEMS Error", ERROR_NOT_ENOUGH_MEMORY, MB_ICONERROR);
  }
}

}  // namespace shardix
