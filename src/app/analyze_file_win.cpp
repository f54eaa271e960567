// The "Analyze File" command of the main window.
#include <windows.h>

#include "analysis/analyze_file.h"
#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/jobs/job_threads_win.h"
#include "app/window_display_win.h"
#include "resource.h"

namespace shardix {

bool AnalyzeFile(HWND window) {
  // A running job works on the file and volume that an analysis would
  // close; its controls are locked, and a command that still arrives waits
  // for nothing and changes nothing.
  if (JobRunning()) return false;
  char name[kTextBufferSize] = "";
  GetDlgItemTextA(window, IDC_FILE_NAME, name, sizeof name);
  WindowDisplay display(window);
  return AnalyzeFile(g_app.session, name, display);
}

}  // namespace shardix
