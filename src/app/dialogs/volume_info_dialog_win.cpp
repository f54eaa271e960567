#include "app/dialogs/volume_info_dialog_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "app/app_state_win.h"
#include "app/center_window_win.h"
#include "app/commands_win.h"
#include "app/controls/list_view_win.h"
#include "app/jobs/job_threads_win.h"
#include "app/ui_services_win.h"
#include "app/window_display_win.h"
#include "app/window_text_win.h"
#include "report/allocation_rows.h"
#include "report/disk_report.h"
#include "report/volume_analysis.h"
#include "resource.h"
#include "volume/unicode_text.h"
#include "volume/wide_text.h"

namespace shardix {
namespace {

constexpr ListColumn kAllocationColumns[] = {{"LCN Range", 130}, {"# Clusters", 65}, {"Free|In-Use", 65}};
constexpr ListColumn kSummaryColumns[] = {{"Attribute", 190}, {"Value", 190}};

// One opening of the dialog: the allocation rows as numbers in the order
// shown. The allocation list is a virtual list that asks for a cell's text
// only when it draws it, so a million runs list at once, and sorting
// reorders these rows without parsing cell texts.
struct VolumeInfoContext {
  std::vector<AllocationRow> rows;
  bool row_failure_reported = false;
};

VolumeInfoContext* ContextOf(HWND dialog) {
  return reinterpret_cast<VolumeInfoContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// Appends a row with the texts of its cells; returns its index, or -1.
int AppendRow(HWND list, const std::string* cells, int column_count) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = 0x7FFFFFFF;  // at the end
  item.pszText = const_cast<char*>(cells[0].c_str());
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
    // The list learns the number of rows once the analysis is done.
    try {
      context_->rows.push_back(AllocationRow{first_lcn, length, in_use});
    } catch (const std::bad_alloc&) {
      ReportRowFailure("Volume Info Error");
    }
  }

  void AddSummaryRow(const std::string& label, const std::string& value) override {
    const std::string cells[2] = {label, value};
    if (AppendRow(GetDlgItem(dialog(), IDC_SUMMARY_LIST), cells, 2) < 0) ReportRowFailure("LVM_INSERTITEM Error");
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
// The allocation rows are formatted as the list shows them.
class ShownReportLists : public DiskReportLists {
 public:
  explicit ShownReportLists(HWND dialog)
      : summary_(GetDlgItem(dialog, IDC_SUMMARY_LIST)), context_(ContextOf(dialog)) {}

  std::size_t SummaryRowCount() const override { return static_cast<std::size_t>(RowCount(summary_)); }
  SummaryRowText SummaryRowAt(std::size_t index) const override {
    const int row = static_cast<int>(index);
    return {CellText(summary_, row, 0), CellText(summary_, row, 1)};
  }
  std::size_t AllocationRowCount() const override { return context_ != nullptr ? context_->rows.size() : 0; }
  AllocationRowText AllocationRowAt(std::size_t index) const override {
    return FormatAllocationRow(context_->rows[index]);
  }

 private:
  HWND summary_;
  const VolumeInfoContext* context_;
};

// The allocation list asks for a cell's text.
void AllocationCellText(const VolumeInfoContext* context, NMHDR* request) {
  int row = 0, column = 0;
  if (!CellTextWanted(request, &row, &column)) return;
  std::string text;
  if (context != nullptr && row >= 0 && static_cast<std::size_t>(row) < context->rows.size()) {
    const AllocationRowText cells = FormatAllocationRow(context->rows[static_cast<std::size_t>(row)]);
    text = column == 0 ? cells.range : column == 1 ? cells.clusters : cells.state;
  }
  AnswerCellText(request, text);
}

// Whole rows move together; rows that compare equal keep their order.
void SortAllocationList(HWND dialog, int column) {
  VolumeInfoContext* context = ContextOf(dialog);
  if (context == nullptr) return;
  const int key = NextAllocationSortKey(ProcessAllocationSortState(), column);
  std::stable_sort(context->rows.begin(), context->rows.end(), [key](const AllocationRow& a, const AllocationRow& b) {
    return CompareAllocationRows(a, b, key) < 0;
  });
  InvalidateRect(GetDlgItem(dialog, IDC_ALLOCATION_LIST), nullptr, FALSE);
}

void SaveAs(HWND dialog) {
  // 512 characters, wide: a folder of any name takes the report.
  wchar_t path[kTextBufferSize] = L"";
  OPENFILENAMEW request = {};
  // The record without the fields Windows 2000 added (88 bytes in a 32-bit
  // build), as the open dialog of the main window uses it.
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  request.hwndOwner = dialog;
  request.lpstrFilter = L"Text Files\0*.TXT\0";
  request.nFilterIndex = 0;
  request.lpstrFile = path;
  request.nMaxFile = static_cast<DWORD>(kTextBufferSize);
  request.lpstrTitle = L"Save Disk Report";
  request.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
  if (Ui().ShowSaveFileDialog(&request)) {
    bool valid = true;
    const std::string chosen = Utf8FromWide(path, &valid);
    // No UTF-8 text names it: the report would go to another file.
    if (!valid) {
      Ui().ShowMessageBox(dialog, InvalidNameText(chosen).c_str(), "File save error", MB_OK);
      return;
    }
    SaveDiskReport(dialog, chosen);  // the path exactly as chosen
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
  SetDialogItemText(dialog, IDC_DISK_REPORT_TITLE, title);
  InitVolumeInfoColumns(dialog);
  // A failed analysis has shown its box; the lists then stay empty.
  VolumeInfoDisplay display(dialog, context);
  AnalyzeVolume(g_app.session.volume.get(), display, VolumeAnalysisMode::kFillLists);
  SendDlgItemMessageA(dialog, IDC_ALLOCATION_LIST, LVM_SETITEMCOUNT, context->rows.size(), 0);
  SizeVolumeInfoColumns(dialog);
  return FALSE;  // no control gets the focus from the dialog manager
}

}  // namespace

void InitVolumeInfoColumns(HWND dialog) {
  InsertListColumns(GetDlgItem(dialog, IDC_ALLOCATION_LIST), kAllocationColumns, 3,
                    FirstColumnAlignment::kAsTheControlDoes);
  InsertListColumns(GetDlgItem(dialog, IDC_SUMMARY_LIST), kSummaryColumns, 2, FirstColumnAlignment::kAsTheControlDoes);
}

void SizeVolumeInfoColumns(HWND dialog) {
  FitListColumns(GetDlgItem(dialog, IDC_ALLOCATION_LIST), kAllocationColumns, 3);
  FitListColumns(GetDlgItem(dialog, IDC_SUMMARY_LIST), kSummaryColumns, 2);
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
      auto* header = reinterpret_cast<NMHDR*>(lparam);
      if (header->idFrom != IDC_ALLOCATION_LIST) return FALSE;
      if (header->code == LVN_COLUMNCLICK) {
        SortAllocationList(dialog, reinterpret_cast<const NMLISTVIEW*>(lparam)->iSubItem);
      }
      AllocationCellText(ContextOf(dialog), header);
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
  // Wide, as the main window: the title shows an image of any name.
  const INT_PTR result = DialogBoxParamW(g_app.instance, MAKEINTRESOURCEW(IDD_VOLUME_INFO), window,
                                         VolumeInfoDialogProc, reinterpret_cast<LPARAM>(&context));
  if (result == -1) {
    ReportSystemError(window, "DialogBoxParam() Error", GetLastError(), MB_ICONERROR);
    return false;
  }
  return true;
}

}  // namespace shardix
