// What the Fragment and Defragment jobs share on the window side: their
// worker threads' life, the controls they lock, and stopping them when the
// main window closes.
#pragma once

#include <windows.h>

#include "display/job_context.h"

namespace shardix {

class Display;

// Whether a Fragment or Defragment worker is still running. Commands that
// would touch the analysed file or its volume meanwhile do nothing.
bool JobRunning();

// Whether `*worker` may take a new worker thread: it holds none, or one
// that has ended, whose handle is then closed and forgotten. False while
// that worker still runs, and when its state cannot be read (after a box).
bool ReleaseEndedWorker(HWND window, HANDLE* worker);

// Creates `body` as a job's worker thread with `parameter`, locks the
// controls and lets it run; its handle goes to `*worker`. A thread that
// cannot be made shows the "CreateThread() Error" box and changes nothing.
bool StartWorkerThread(HWND window, HANDLE* worker, LPTHREAD_START_ROUTINE body, void* parameter);

// The controls a running job keeps from the user: the settings group with
// Fragment, Defragment and Volume Info, Analyze File, "..." and the file
// name box.
void LockControlsForJob(HWND window);
// Gives them back; Defragment only for a file of 2 or more fragments.
void UnlockControlsAfterJob(HWND window);

// The main window closes (WM_DESTROY): a running job stops after the move
// in flight, and this waits for the workers, letting the messages they send
// meanwhile through, so the file and volume are closed only once no job
// can use them.
void StopJobsAndWait(HWND window);

// A job's context on the analysed file and volume, the process's
// generator and the stop flag.
JobContext MakeJobContext(Display& display);

}  // namespace shardix
