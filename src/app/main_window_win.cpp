// MainWndProc: the message table and the command table of the main window.
#include <windows.h>
#include <commctrl.h>

#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/controls/fragment_list_win.h"
#include "app/jobs/job_threads_win.h"
#include "app/main_window_win.h"
#include "display/text_util.h"
#include "app/ui_services_win.h"
#include "app/window_display_win.h"
#include "app/window_text_win.h"
#include "resource.h"

namespace shardix {
namespace {

void RunCommand(HWND window, int id) {
  switch (id) {
    case IDC_CLOSE:
      if (!DestroyWindow(window)) ReportSystemError(window, "DestroyWindow() Error", GetLastError(), MB_ICONERROR);
      break;
    case IDC_FRAGMENT: OnFragment(window); break;
    case IDC_DEFRAGMENT: OnDefragment(window); break;
    case IDC_BROWSE: BrowseForFile(window); break;
    case IDC_ABOUT: ShowAboutBox(window); break;
    case IDC_HELP_BUTTON: ShowHelp(window); break;
    case IDC_ANALYZE_FILE: AnalyzeFile(window); break;
    case IDC_VOLUME_INFO: ShowVolumeInfo(window); break;
    default: break;  // IDCANCEL from Escape among them: nothing to do
  }
}

// Every static control gets a transparent background; the status line is
// red while its text begins with "Error" and sits on the button face.
bool ColorStatusLine(HWND window, HDC dc, HWND control, LRESULT* result) {
  SetBkMode(dc, TRANSPARENT);
  if (GetParent(control) != window || GetDlgCtrlID(control) != IDC_STATUS) return false;
  if (IsErrorStatus(ControlText(control).c_str())) SetTextColor(dc, kErrorTextColor);
  // A system brush: the same one on every repaint, never to be deleted.
  *result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  return true;
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      // A running job stops after its move in flight before the handles
      // that it uses are closed.
      StopJobsAndWait(window);
      ReleaseAppResources();
      ForgetFragmentRows(window);
      if (g_app.main_window == window) g_app.main_window = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      OnSize(window, LOWORD(lparam), HIWORD(lparam));
      break;
    case WM_GETMINMAXINFO:
      OnGetMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lparam));
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->idFrom != IDC_FRAGMENT_LIST) break;
      if (header->code == LVN_COLUMNCLICK) SortFragmentList(reinterpret_cast<NMLISTVIEW*>(lparam));
      FragmentListCellText(window, reinterpret_cast<NMHDR*>(lparam));
      break;
    }
    case DM_GETDEFID:
      // Enter in the window runs the default button, "Analyze File"; the
      // dialog keyboard handling would otherwise send IDOK, which does
      // nothing.
      return MAKELRESULT(IDC_ANALYZE_FILE, DC_HASDEFID);
    case WM_COMMAND:
      RunCommand(window, LOWORD(wparam));
      return 0;
    case kRunOnWindowThreadMessage:
      // Work that a worker thread hands to the window thread.
      return RunWindowThreadCall(lparam);
    case WM_CTLCOLORSTATIC: {
      LRESULT brush = 0;
      if (ColorStatusLine(window, reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam), &brush)) {
        return brush;
      }
      break;
    }
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace shardix
