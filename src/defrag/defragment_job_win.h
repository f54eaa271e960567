// The Defragment command of the main window, built like the Fragment
// command: handler, starter and worker thread, sharing the status animator.
// OnDefragment itself is declared in app/commands_win.h.
#pragma once

#include <windows.h>

#include <cstdint>

namespace shardix {

// Stores the request in the application state's DefragmentJobParams and
// starts DefragmentWorker on it; dropped without a message, leaving the
// block untouched, while a job of either kind still runs.
void StartDefragmentJob(int64_t fragment_count, uint64_t cluster_count);

// The worker thread on the DefragmentJobParams block. Exit code 1.
DWORD WINAPI DefragmentWorker(LPVOID parameters);

}  // namespace shardix
