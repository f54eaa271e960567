#include "defrag/defragment_job.h"

#include "analysis/extent_scan.h"
#include "analysis/file_display.h"
#include "analysis/job_display.h"
#include "defrag/defragment_file.h"
#include "display/display.h"

namespace shardix {

DefragmentJobParams PrepareDefragmentJob(Display& display, const FileSession& session) {
  DefragmentJobParams params;
  const uint64_t clusters = session.results.cluster_count;
  params.cluster_count = clusters == kNoValue ? 0 : clusters;
  display.SetProgressRange(static_cast<uint32_t>(params.cluster_count));
  display.SetProgress(0);
  display.SetStatusText("Defragmentation has started...");
  params.fragment_count = static_cast<int64_t>(display.FragmentRowCount());
  return params;
}

std::string DefragmentOutcomeText(int result, bool* is_error) {
  *is_error = result != 0;
  switch (result) {
    case 0: return "File was successfully defragmented!";
    case kDefragmentNoSpace: return "File deframentation unsuccessful - not enough disk space";
    case kDefragmentRunsTooShort:
      return "File deframentation unsuccessful - unable to reduce the file fragmentation";
    default: return "File deframentation unsuccessful - unexpected error";
  }
}

int RunDefragmentJob(JobContext& context, FileSession& session, const DefragmentJobParams& params) {
  Display& display = *context.display;
  BeginJobDisplay(display);

  NoteJobStart(context);
  int result = DefragmentFile(context, params.fragment_count, params.cluster_count);
  // The outcome is known only once the moves have reached the disk.
  if (const uint32_t code = CloseJobWrites(context); code != 0 && result != kJobStopped) {
    // A failure the job met already has its box; this is the same one again.
    if (result != kDefragmentFailed)
      display.ShowErrorBox("DefragmentFile() Error", code, BoxOwner::kMainWindow, BoxIcon::kNone);
    result = kDefragmentFailed;
  }
  if (result == kJobStopped) return result;  // the program is closing
  bool is_error = false;
  std::string outcome = DefragmentOutcomeText(result, &is_error);
  if (is_error && context.refusal.empty())  // a refusal is on the status line already
    display.SetStatusError(outcome);
  else if (!is_error)
    display.SetStatusText(outcome);

  EndJobDisplay(context, session, display);
  return result;
}

int RunDefragmentJob(JobContext& context, FileSession& session) {
  DefragmentJobParams params = PrepareDefragmentJob(*context.display, session);
  return RunDefragmentJob(context, session, params);
}

}  // namespace shardix
