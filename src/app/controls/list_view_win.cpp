#include "app/controls/list_view_win.h"

#include <commctrl.h>

#include <algorithm>

namespace shardix {
namespace {

bool InsertColumn(HWND list, int index, const char* title, int width) {
  LVCOLUMNA column = {};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.fmt = LVCFMT_RIGHT;
  column.cx = width;
  column.pszText = const_cast<char*>(title);
  column.iSubItem = index;
  return SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column)) >= 0;
}

// The width the list's own fit to a last column's title gives.
int TitleWidth(HWND list, const char* title) {
  const auto text = static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(title)));
  return text + 2 * GetSystemMetrics(SM_CXEDGE) + 12;  // the header's margins around its text
}

}  // namespace

void InsertListColumns(HWND list, const ListColumn* columns, int count, FirstColumnAlignment first) {
  const int offset = first == FirstColumnAlignment::kRight ? 1 : 0;
  if (offset == 1) InsertColumn(list, 0, "", 0);
  for (int column = 0; column < count; ++column) {
    InsertColumn(list, column + offset, columns[column].title, columns[column].width);
  }
  if (offset == 1) SendMessageA(list, LVM_DELETECOLUMN, 0, 0);
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
  FitListColumns(list, columns, count);
}

void FitListColumns(HWND list, const ListColumn* columns, int count) {
  if (count <= 0) return;
  RECT client = {};
  GetClientRect(list, &client);
  int room = client.right - client.left;
  // Rows beyond one page bring a vertical scroll bar; until the list has
  // shown it, the client area still counts the bar's width.
  const LRESULT rows = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
  const LRESULT per_page = SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0);
  const bool bar_shown = (GetWindowLongPtrA(list, GWL_STYLE) & WS_VSCROLL) != 0;
  if (rows > per_page && !bar_shown) room -= GetSystemMetrics(SM_CXVSCROLL);
  for (int column = 0; column + 1 < count; ++column) {
    SendMessageA(list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(columns[column].width, 0));
    room -= columns[column].width;
  }
  const ListColumn& last = columns[count - 1];
  SendMessageA(list, LVM_SETCOLUMNWIDTH, count - 1, MAKELPARAM(std::max(room, TitleWidth(list, last.title)), 0));
}

bool CellTextWanted(const NMHDR* request, int* row, int* column) {
  if (request->code != LVN_GETDISPINFOA && request->code != LVN_GETDISPINFOW) return false;
  // The ANSI and the wide notification share their layout up to the text.
  const LVITEMA& item = reinterpret_cast<const NMLVDISPINFOA*>(request)->item;
  if (!(item.mask & LVIF_TEXT) || item.pszText == nullptr || item.cchTextMax <= 0) return false;
  *row = item.iItem;
  *column = item.iSubItem;
  return true;
}

void AnswerCellText(NMHDR* request, const std::string& text) {
  LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(request)->item;
  const std::size_t shown = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax - 1));
  if (request->code == LVN_GETDISPINFOW) {
    auto* wide = reinterpret_cast<wchar_t*>(item.pszText);
    for (std::size_t i = 0; i < shown; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    wide[shown] = L'\0';
  } else {
    text.copy(item.pszText, shown);
    item.pszText[shown] = '\0';
  }
}

}  // namespace shardix
