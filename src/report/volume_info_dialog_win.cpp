#include "report/volume_info_dialog_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <new>
#include <vector>

#include "app/app_state_win.h"
#include "app/center_window_win.h"
#include "app/commands_win.h"
#include "app/job_threads_win.h"
#include "app/ui_services_win.h"
#include "app/window_display_win.h"
#include "report/allocation_rows.h"
#include "report/disk_report.h"
#include "report/volume_analysis.h"
#include "resource.h"

namespace shardix {
namespace {

// One opening of the dialog: the numbers of the allocation rows, keyed by
// each item's lParam, so sorting never parses cell texts and never depends
// on how the list control numbers its items while it sorts.
struct VolumeInfoContext {
  std::vector<AllocationRow> rows;
  bool row_failure_reported = false;
};

VolumeInfoContext* ContextOf(HWND dialog) {
  return reinterpret_cast<VolumeInfoContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// Appends a row with the texts of its cells; returns its index, or -1.
int AppendRow(HWND list, const std::string* cells, int column_count, LPARAM param) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = 0x7FFFFFFF;  // at the end
  item.pszText = const_cast<char*>(cells[0].c_str());
  item.lParam = param;
  const int index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (index < 0) return -1;
  for (int column = 1; column < column_count; ++column) {
    LVITEMA cell = {};
    cell.iSubItem = column;
    cell.pszText = const_cast<char*>(cells[column].c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&cell));
  }
  return index;
}

std::string CellText(HWND list, int row, int column) {
  char text[kTextBufferSize] = "";
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

int RowCount(HWND list) {
  const LRESULT count = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
  return count > 0 ? static_cast<int>(count) : 0;
}

// The analysis shows its rows in the dialog's lists; its boxes for the
// dialog are owned by it.
class VolumeInfoDisplay : public WindowDisplay {
 public:
  VolumeInfoDisplay(HWND dialog, VolumeInfoContext* context)
      : WindowDisplay(g_app.main_window, dialog), context_(context) {}

  void AddAllocationRow(uint64_t first_lcn, uint64_t length, bool in_use) override {
    HWND list = GetDlgItem(dialog(), IDC_ALLOCATION_LIST);
    const AllocationRow row{first_lcn, length, in_use};
    const AllocationRowText text = FormatAllocationRow(row);
    const std::string cells[3] = {text.range, text.clusters, text.state};
    try {
      context_->rows.push_back(row);
    } catch (const std::bad_alloc&) {
      ReportRowFailure("Volume Info Error");
      return;
    }
    if (AppendRow(list, cells, 3, static_cast<LPARAM>(context_->rows.size() - 1)) < 0) {
      context_->rows.pop_back();
      ReportRowFailure("LVM_INSERTITEM Error");
    }
  }

  void AddSummaryRow(const std::string& label, const std::string& value) override {
    const std::string cells[2] = {label, value};
    if (AppendRow(GetDlgItem(dialog(), IDC_SUMMARY_LIST), cells, 2, 0) < 0) ReportRowFailure("LVM_INSERTITEM Error");
  }

 private:
  // One box for a list that cannot take its rows, not one per row.
  void ReportRowFailure(const char* caption) {
    if (context_->row_failure_reported) return;
    context_->row_failure_reported = true;
    ReportSystemError(dialog(), caption, ERROR_NOT_ENOUGH_MEMORY, MB_ICONERROR);
  }

  VolumeInfoContext* context_;
};

// The lists as the report writer reads them: cell texts in the order shown.
class ShownReportLists : public DiskReportLists {
 public:
  explicit ShownReportLists(HWND dialog)
      : summary_(GetDlgItem(dialog, IDC_SUMMARY_LIST)), allocation_(GetDlgItem(dialog, IDC_ALLOCATION_LIST)) {}

  std::size_t SummaryRowCount() const override { return static_cast<std::size_t>(RowCount(summary_)); }
  SummaryRowText SummaryRowAt(std::size_t index) const override {
    const int row = static_cast<int>(index);
    return {CellText(summary_, row, 0), CellText(summary_, row, 1)};
  }
  std::size_t AllocationRowCount() const override { return static_cast<std::size_t>(RowCount(allocation_)); }
  AllocationRowText AllocationRowAt(std::size_t index) const override {
    const int row = static_cast<int>(index);
    return {CellText(allocation_, row, 0), CellText(allocation_, row, 1), CellText(allocation_, row, 2)};
  }

 private:
  HWND summary_;
  HWND allocation_;
};

void InsertColumn(HWND list, int column, const char* title, int width) {
  LVCOLUMNA column_info = {};
  column_info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column_info.fmt = LVCFMT_RIGHT;  // the list control leaves a first column left-aligned
  column_info.cx = width;
  column_info.pszText = const_cast<char*>(title);
  column_info.iSubItem = column;
  SendMessageA(list, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&column_info));
}

struct SortRequest {
  const std::vector<AllocationRow>* rows;
  int key;
};

int CALLBACK CompareAllocationItems(LPARAM first, LPARAM second, LPARAM request_address) {
  const auto* request = reinterpret_cast<const SortRequest*>(request_address);
  const std::vector<AllocationRow>& rows = *request->rows;
  if (static_cast<std::size_t>(first) >= rows.size() || static_cast<std::size_t>(second) >= rows.size()) return 0;
  return CompareAllocationRows(rows[first], rows[second], request->key);
}

// Sorted through the items' lParams (LVM_SORTITEMS) rather than their
// indexes: some list controls hand an index-based comparison the indexes of
// a working copy, which then reads the wrong rows.
void SortAllocationList(HWND dialog, int column) {
  VolumeInfoContext* context = ContextOf(dialog);
  if (context == nullptr) return;
  const SortRequest request{&context->rows, NextAllocationSortKey(ProcessAllocationSortState(), column)};
  if (!SendDlgItemMessageA(dialog, IDC_ALLOCATION_LIST, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&request),
                           reinterpret_cast<LPARAM>(CompareAllocationItems))) {
    ReportSystemError(dialog, "LVM_SORTITEMS Error", ERROR_NOT_ENOUGH_MEMORY, MB_ICONERROR);
  }
}

void SaveAs(HWND dialog) {
  char path[kTextBufferSize] = "";
  OPENFILENAMEA request = {};
  // The record without the fields Windows 2000 added (88 bytes in a 32-bit
  // build), as the open dialog of the main window uses it.
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = dialog;
  request.lpstrFilter = "Text Files\0*.TXT\0";
  request.nFilterIndex = 0;
  request.lpstrFile = path;
  request.nMaxFile = sizeof path;
  request.lpstrTitle = "Save Disk Report";
  request.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
  if (Ui().ShowSaveFileDialog(&request)) {
    SaveDiskReport(dialog, path);  // the path exactly as chosen
    return;
  }
  // Cancelling leaves no error; anything else is the dialog failing.
  if (const DWORD error = Ui().LastFileDialogError(); error != 0) {
    char text[kTextBufferSize];
    std::snprintf(text, sizeof text, "The save dialog failed (common dialog error 0x%04lX).",
                  static_cast<unsigned long>(error));
    Ui().ShowMessageBox(dialog, text, "GetSaveFileName() Error", MB_OK | MB_ICONERROR);
  }
}

BOOL InitDialog(HWND dialog, VolumeInfoContext* context) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(context));
  CenterWindowOnParent(dialog, g_app.main_window);
  const std::string title =
      g_app.session.volume ? VolumeReportTitle(*g_app.session.volume) : std::string("Disk Report for: ()");
  SetDlgItemTextA(dialog, IDC_DISK_REPORT_TITLE, title.c_str());
  InitVolumeInfoColumns(dialog);
  // A failed analysis has shown its box; the lists then stay empty.
  VolumeInfoDisplay display(dialog, context);
  AnalyzeVolume(g_app.session.volume.get(), display, VolumeAnalysisMode::kFillLists);
  SizeVolumeInfoColumns(dialog);
  return FALSE;  // no control gets the focus from the dialog manager
}

}  // namespace

void InitVolumeInfoColumns(HWND dialog) {
  HWND allocation = GetDlgItem(dialog, IDC_ALLOCATION_LIST);
  InsertColumn(allocation, 0, "LCN Range", 130);
  InsertColumn(allocation, 1, "# Clusters", 65);
  InsertColumn(allocation, 2, "Free|In-Use", 65);
  HWND summary = GetDlgItem(dialog, IDC_SUMMARY_LIST);
  InsertColumn(summary, 0, "Attribute", 190);
  InsertColumn(summary, 1, "Value", 190);
  for (HWND list : {allocation, summary}) {
    // Full-row selection as the only extended style.
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
  }
  SendMessageA(allocation, LVM_SETCOLUMNWIDTH, 2, LVSCW_AUTOSIZE_USEHEADER);
  SendMessageA(summary, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE_USEHEADER);
}

void SizeVolumeInfoColumns(HWND dialog) {
  HWND allocation = GetDlgItem(dialog, IDC_ALLOCATION_LIST);
  SendMessageA(allocation, LVM_SETCOLUMNWIDTH, 0, 130);
  SendMessageA(allocation, LVM_SETCOLUMNWIDTH, 1, 65);
  SendMessageA(allocation, LVM_SETCOLUMNWIDTH, 2, LVSCW_AUTOSIZE_USEHEADER);
  HWND summary = GetDlgItem(dialog, IDC_SUMMARY_LIST);
  SendMessageA(summary, LVM_SETCOLUMNWIDTH, 0, 190);
  SendMessageA(summary, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE_USEHEADER);
}

int SaveDiskReport(HWND dialog, const std::string& path) {
  WindowDisplay display(g_app.main_window, dialog);
  return SaveDiskReport(display, ShownReportLists(dialog), path);
}

INT_PTR CALLBACK VolumeInfoDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      return InitDialog(dialog, reinterpret_cast<VolumeInfoContext*>(lparam));
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDCANCEL:
        case IDC_VOLUME_INFO_CLOSE:
          EndDialog(dialog, 0);
          break;
        case IDC_SAVE_AS:
          SaveAs(dialog);
          break;
        default:
          break;
      }
      return FALSE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->code == LVN_COLUMNCLICK && header->idFrom == IDC_ALLOCATION_LIST) {
        SortAllocationList(dialog, reinterpret_cast<const NMLISTVIEW*>(lparam)->iSubItem);
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

bool ShowVolumeInfo(HWND window) {
  // The analysis reads the volume that a running job moves clusters on; the
  // command is locked meanwhile, and one that still arrives does nothing.
  if (JobRunning()) return false;
  VolumeInfoContext context;  // lives as long as the modal dialog
  const INT_PTR result = DialogBoxParamA(g_app.instance, MAKEINTRESOURCEA(IDD_VOLUME_INFO), window,
                                         VolumeInfoDialogProc, reinterpret_cast<LPARAM>(&context));
  if (result == -1) {
    ReportSystemError(window, "DialogBoxParam() Error", GetLastError(), MB_ICONERROR);
    return false;
  }
  return true;
}

}  // namespace shardix
