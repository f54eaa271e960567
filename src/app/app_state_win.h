// The application state: the process-wide values of the Win32 program, owned
// by the window thread. Worker threads read the handles and the main window
// and change controls only through window messages.
#pragma once

#include <windows.h>

#include <atomic>

#include "analysis/analyze_file.h"
#include "analysis/fragment_sort.h"
#include "app/jobs/job_commands_win.h"

namespace shardix {

struct AppState {
  HINSTANCE instance = nullptr;
  HWND main_window = nullptr;

  // Fill colours of the cluster bars.
  HBRUSH white_brush = nullptr;
  HBRUSH blue_brush = nullptr;
  HBRUSH red_brush = nullptr;

  // The analysed file and its volume (empty until Analyze File opens them),
  // the analysed path and the figures of the last scan. A running job uses
  // them; nothing else touches them until it has ended.
  FileSession session;

  // Sort state of the fragment list: last column clicked, and its order.
  FragmentSortState fragment_sort;

  // The jobs (app/jobs/job_commands_win.cpp): the request, written by the
  // starter before the worker exists and read by the worker once, and the
  // last worker's thread. One job runs at a time, of either kind.
  JobRequest job_request;
  HANDLE job_worker = nullptr;
  // Set while the main window closes: a running job stops after the move
  // in flight.
  std::atomic<bool> stop_jobs{false};

  // The status animator (app/jobs/status_animator_win.cpp): its thread, and
  // the event that is set while a cluster move is in progress.
  HANDLE status_animator = nullptr;
  HANDLE animator_gate = nullptr;
};

extern AppState g_app;

// Deletes the brushes that exist, then closes the volume, then the file.
// MainWndProc stops and awaits a running job first (StopJobsAndWait).
void ReleaseAppResources();

}  // namespace shardix
