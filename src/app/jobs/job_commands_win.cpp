#include "app/jobs/job_commands_win.h"

#include <commctrl.h>

#include <exception>
#include <string>

#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/jobs/job_threads_win.h"
#include "app/jobs/status_animator_win.h"
#include "app/window_display_win.h"
#include "resource.h"

namespace shardix {
namespace {

std::string ControlText(HWND window, int id) {
  char text[kTextBufferSize] = "";
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

// The worker thread: its parameter is the stored JobRequest, which it
// reads once. Exit code 1.
DWORD WINAPI JobWorker(LPVOID parameter) {
  const JobRequest request = *static_cast<const JobRequest*>(parameter);
  const bool fragment = request.kind == JobKind::kFragment;
  HWND window = g_app.main_window;
  WindowDisplay display(window);
  JobContext context = MakeJobContext(display);
  try {
    if (fragment) {
      RunFragmentJob(context, g_app.session, request.fragment);
    } else {
      RunDefragmentJob(context, g_app.session, request.defragment);
    }
  } catch (const std::exception&) {
    // Out of memory on the way: say so, and give the controls back.
    display.ShowErrorBox(fragment ? "FragmentWorker() Error" : "DefragmentWorker() Error", ERROR_NOT_ENOUGH_MEMORY,
                         BoxOwner::kMainWindow, BoxIcon::kError);
    display.SetStatusError(fragment ? "File fragmentation was unsuccessful - unexpected error"
                                    : "File deframentation unsuccessful - unexpected error");
    RunOnWindowThread(window, [window] { UnlockControlsAfterJob(window); });
  }
  return 1;
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
  JobRequest request;
  request.kind = JobKind::kFragment;
  if (!PrepareFragmentJob(display, count_text, max_text, method, slider, &request.fragment)) return false;
  StartJob(request);
  return true;
}

bool OnDefragment(HWND window) {
  if (JobRunning()) return false;
  WindowDisplay display(window);
  JobRequest request;
  request.kind = JobKind::kDefragment;
  request.defragment = PrepareDefragmentJob(display, g_app.session);
  StartJob(request);
  return true;
}

void StartJob(const JobRequest& request) {
  HWND window = g_app.main_window;
  EnsureStatusAnimator();
  // A request while a worker still runs goes no further: the block it
  // would overwrite is the one that worker may not have read yet.
  if (!ReleaseEndedWorker(window, &g_app.job_worker) || JobRunning()) return;
  g_app.job_request = request;
  StartWorkerThread(window, &g_app.job_worker, JobWorker, &g_app.job_request);
}

}  // namespace shardix
