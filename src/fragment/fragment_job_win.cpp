#include "fragment/fragment_job_win.h"

#include <commctrl.h>

#include <exception>

#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/job_threads_win.h"
#include "app/ui_services_win.h"
#include "app/window_display_win.h"
#include "fragment/fragment_job.h"
#include "fragment/status_animator_win.h"
#include "resource.h"

namespace shardix {
namespace {

std::string ControlText(HWND window, int id) {
  char text[kTextBufferSize] = "";
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

}  // namespace

bool OnFragment(HWND window) {
  // While a job runs its controls are locked; a command that still arrives
  // changes nothing, not even the progress bar of the running job.
  if (JobRunning()) return false;
  const std::string count_text = ControlText(window, IDC_FRAGMENT_COUNT);
  const std::string max_text = ControlText(window, IDC_MAX_VALUE);
  const auto method = static_cast<int32_t>(SendDlgItemMessageA(window, IDC_PLACEMENT_METHOD, CB_GETCURSEL, 0, 0));
  const auto slider = static_cast<int>(SendDlgItemMessageA(window, IDC_FRAGMENT_SIZE, TBM_GETPOS, 0, 0));

  WindowDisplay display(window);
  FragmentJobParams params;
  if (!PrepareFragmentJob(display, count_text, max_text, method, slider, &params)) return false;
  StartFragmentJob(params.fragment_count, params.cluster_count, params.method, params.fragment_size);
  return true;
}

void StartFragmentJob(uint64_t fragment_count, uint64_t cluster_count, int32_t method, uint64_t fragment_size) {
  HWND window = g_app.main_window;
  EnsureStatusAnimator();
  // A request while a worker still runs goes no further: the block it
  // would overwrite is the one that worker may not have read yet.
  if (!ReleaseEndedWorker(window, &g_app.fragment_worker) || JobRunning()) return;
  g_app.fragment_params = {fragment_count, cluster_count, method, fragment_size};
  StartWorkerThread(window, &g_app.fragment_worker, FragmentWorker, &g_app.fragment_params);
}

DWORD WINAPI FragmentWorker(LPVOID parameters) {
  const FragmentJobParams params = *static_cast<const FragmentJobParams*>(parameters);
  HWND window = g_app.main_window;
  WindowDisplay display(window);
  JobContext context = MakeJobContext(display);
  try {
    RunFragmentJob(context, g_app.session, params);
  } catch (const std::exception&) {
    // Out of memory on the way: say so, and give the controls back.
    display.ShowErrorBox("FragmentWorker() Error", ERROR_NOT_ENOUGH_MEMORY, BoxOwner::kMainWindow, BoxIcon::kError);
    display.SetStatusError("File fragmentation was unsuccessful - unexpected error");
    RunOnWindowThread(window, [window] { UnlockControlsAfterJob(window); });
  }
  return 1;
}

}  // namespace shardix
