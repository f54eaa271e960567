#include "app/jobs/job_threads_win.h"

#include "analysis/extent_scan.h"
#include "app/app_state_win.h"
#include "app/main_window_win.h"
#include "app/ui_services_win.h"
#include "fragment/random.h"
#include "resource.h"

namespace shardix {
namespace {

constexpr int kJobLockedControls[] = {IDC_ANALYZE_FILE, IDC_BROWSE, IDC_FILE_NAME};

bool StillRunning(HANDLE thread) { return thread != nullptr && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; }

// Waits for `thread` to end while carrying out the messages that other
// threads send to this one: a worker waits on such a message to show what
// it does, and waiting without them would never end.
void AwaitLettingSentMessagesThrough(HWND window, HANDLE thread) {
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0) return;
    if (woke == WAIT_OBJECT_0 + 1) {
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // runs sent messages
      continue;
    }
    ReportSystemError(window, "MsgWaitForMultipleObjects() Error", GetLastError(), MB_ICONERROR);
    // Still wait, in short steps, rather than close what the job uses.
    for (;;) {
      const DWORD result = WaitForSingleObject(thread, 20);
      if (result != WAIT_TIMEOUT) return;
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }
}

}  // namespace

bool JobRunning() { return StillRunning(g_app.job_worker); }

bool ReleaseEndedWorker(HWND window, HANDLE* worker) {
  if (*worker == nullptr) return true;
  const DWORD result = WaitForSingleObject(*worker, 0);
  if (result == WAIT_TIMEOUT) return false;
  if (result == WAIT_FAILED) {
    ReportSystemError(window, "WaitForSingleObject() Error", GetLastError(), MB_ICONERROR);
    return false;
  }
  if (!CloseHandle(*worker)) ReportSystemError(window, "CloseHandle() Error", GetLastError(), MB_ICONERROR);
  *worker = nullptr;
  return true;
}

bool StartWorkerThread(HWND window, HANDLE* worker, LPTHREAD_START_ROUTINE body, void* parameter) {
  g_app.stop_jobs = false;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, body, parameter, CREATE_SUSPENDED, &id);
  if (thread == nullptr) {
    ReportSystemError(window, "CreateThread() Error", GetLastError(), 0);
    return false;
  }
  // Locked here, before the worker runs, so no command can slip in between
  // the start and the worker's own locking.
  LockControlsForJob(window);
  if (ResumeThread(thread) == static_cast<DWORD>(-1)) {
    const DWORD code = GetLastError();
    TerminateThread(thread, 0);  // it has not run a single instruction
    CloseHandle(thread);
    UnlockControlsAfterJob(window);
    ReportSystemError(window, "ResumeThread() Error", code, MB_ICONERROR);
    return false;
  }
  *worker = thread;
  return true;
}

void LockControlsForJob(HWND window) {
  EnableSettings(window, false);
  for (int id : kJobLockedControls) EnableWindow(GetDlgItem(window, id), FALSE);
}

void UnlockControlsAfterJob(HWND window) {
  EnableSettings(window, true);
  const uint64_t fragments = g_app.session.results.fragment_count;
  if (fragments <= 1 || fragments == kNoValue) EnableWindow(GetDlgItem(window, IDC_DEFRAGMENT), FALSE);
  for (int id : kJobLockedControls) EnableWindow(GetDlgItem(window, id), TRUE);
}

void StopJobsAndWait(HWND window) {
  g_app.stop_jobs = true;
  if (g_app.job_worker == nullptr) return;
  AwaitLettingSentMessagesThrough(window, g_app.job_worker);
  if (!CloseHandle(g_app.job_worker)) ReportSystemError(window, "CloseHandle() Error", GetLastError(), MB_ICONERROR);
  g_app.job_worker = nullptr;
}

JobContext MakeJobContext(Display& display) {
  JobContext context;
  context.volume = g_app.session.volume.get();
  context.file = g_app.session.file.get();
  context.display = &display;
  context.random = &ProcessRandom();
  context.stop_requested = &g_app.stop_jobs;
  return context;
}

}  // namespace shardix
