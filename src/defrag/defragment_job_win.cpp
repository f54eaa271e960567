#include "defrag/defragment_job_win.h"

#include <exception>

#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/job_threads_win.h"
#include "app/window_display_win.h"
#include "defrag/defragment_job.h"
#include "fragment/status_animator_win.h"

namespace shardix {

bool OnDefragment(HWND window) {
  // Locked while a job runs; a command that still arrives changes nothing.
  if (JobRunning()) return false;
  WindowDisplay display(window);
  const DefragmentJobParams params = PrepareDefragmentJob(display, g_app.session);
  StartDefragmentJob(params.fragment_count, params.cluster_count);
  return true;
}

void StartDefragmentJob(int64_t fragment_count, uint64_t cluster_count) {
  HWND window = g_app.main_window;
  EnsureStatusAnimator();
  if (!ReleaseEndedWorker(window, &g_app.defragment_worker) || JobRunning()) return;
  g_app.defragment_params = {fragment_count, cluster_count};
  StartWorkerThread(window, &g_app.defragment_worker, DefragmentWorker, &g_app.defragment_params);
}

DWORD WINAPI DefragmentWorker(LPVOID parameters) {
  const DefragmentJobParams params = *static_cast<const DefragmentJobParams*>(parameters);
  HWND window = g_app.main_window;
  WindowDisplay display(window);
  JobContext context = MakeJobContext(display);
  try {
    RunDefragmentJob(context, g_app.session, params);
  } catch (const std::exception&) {
    display.ShowErrorBox("DefragmentWorker() Error", ERROR_NOT_ENOUGH_MEMORY, BoxOwner::kMainWindow,
                         BoxIcon::kError);
    display.SetStatusError("File deframentation unsuccessful - unexpected error");
    RunOnWindowThread(window, [window] { UnlockControlsAfterJob(window); });
  }
  return 1;
}

}  // namespace shardix
