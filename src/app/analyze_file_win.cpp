// The "Analyze File" command of the main window.
#include <windows.h>

#include "analysis/analyze_file.h"
#include "analysis/file_display.h"
#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/jobs/job_threads_win.h"
#include "app/window_display_win.h"
#include "app/window_text_win.h"
#include "resource.h"
#include "volume/unicode_text.h"

namespace shardix {

bool AnalyzeFile(HWND window) {
  // A running job works on the file and volume that an analysis would
  // close; its controls are locked, and a command that still arrives waits
  // for nothing and changes nothing.
  if (JobRunning()) return false;
  bool valid = true;
  const std::string name = DialogItemText(window, IDC_FILE_NAME, &valid);
  WindowDisplay display(window);
  if (!valid) {
    // No UTF-8 text names it: whatever opened would be another file.
    ResetFileDisplay(display);
    g_app.session.file.reset();
    g_app.session.analysed_path.clear();
    display.EnableSettings(false);
    display.SetStatusError(InvalidNameText(name));
    return false;
  }
  return AnalyzeFile(g_app.session, name, display);
}

}  // namespace shardix
