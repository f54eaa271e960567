// The Fragment and Defragment commands of the main window: each handler
// checks its settings, one starter hands the request to a worker thread,
// and the worker runs the job while the window thread goes on with its
// messages. OnFragment and OnDefragment are declared in app/commands_win.h.
#pragma once

#include <windows.h>

#include "defrag/defragment_job.h"
#include "fragment/fragment_job.h"

namespace shardix {

enum class JobKind { kFragment, kDefragment };

// What a worker runs: the kind, and the parameter block of that kind.
struct JobRequest {
  JobKind kind = JobKind::kFragment;
  FragmentJobParams fragment{};
  DefragmentJobParams defragment{};
};

// Stores `request` in the application state's job_request and starts
// JobWorker on it. Dropped without a message, leaving the stored request
// untouched, while a job still runs.
void StartJob(const JobRequest& request);

}  // namespace shardix
