// The Fragment command of the main window: the handler checks the
// settings, the starter hands them to a worker thread, and the worker runs
// the job (RunFragmentJob) while the window thread goes on with its
// messages. OnFragment itself is declared in app/commands_win.h.
#pragma once

#include <windows.h>

#include <cstdint>

namespace shardix {

// Stores the request in the application state's FragmentJobParams and
// starts FragmentWorker on it. Dropped without a message, leaving the
// block untouched, while a job of either kind still runs.
void StartFragmentJob(uint64_t fragment_count, uint64_t cluster_count, int32_t method, uint64_t fragment_size);

// The worker thread: its parameter is the FragmentJobParams block, which
// it reads once. Exit code 1.
DWORD WINAPI FragmentWorker(LPVOID parameters);

}  // namespace shardix
