#include "defrag/defragment_job.h"

#include "analysis/extent_scan.h"
#include "analysis/file_display.h"
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
  display.EnableSettings(false);
  display.EnableCommand(Command::kAnalyzeFile, false);
  display.EnableCommand(Command::kBrowse, false);
  display.EnableCommand(Command::kFileName, false);
  ClearClusterBar(display, ClusterBar::kAfter);
  ShowPercentFragmented(display, TextField::kPercentAfter, kNoValue, kNoValue, kNoValue, kNoValue);
  display.ClearFragmentList();

  const int result = DefragmentFile(context, params.fragment_count, params.cluster_count);
  if (result == kJobStopped) return result;  // the program is closing
  bool is_error = false;
  std::string outcome = DefragmentOutcomeText(result, &is_error);
  if (is_error)
    display.SetStatusError(outcome);
  else
    display.SetStatusText(outcome);

  // The file as it lies now. A failed scan has shown its box; the displays
  // below are written from whatever it left.
  ScanResults& results = session.results;
  results = ScanResults{};
  ScanFileExtents(context.file, context.volume, display, &results);
  display.FitFragmentListColumns();
  ShowFileInfo(display, session.analysed_path, results.file_size, results.fragment_count,
               results.cluster_count);
  ShowPercentFragmented(display, TextField::kPercentAfter, results.fragment_count,
                        results.cluster_count, results.volume_cluster_count, results.lcn_span);
  DrawFileBar(display, ClusterBar::kAfter, results.volume_cluster_count);
  ShowMaxFragments(display, results.fragment_count, results.cluster_count);

  display.EnableSettings(true);
  // A file whose fragments could not be counted is not offered either.
  if (results.fragment_count <= 1 || results.fragment_count == kNoValue)
    display.EnableCommand(Command::kDefragment, false);
  display.EnableCommand(Command::kAnalyzeFile, true);
  display.EnableCommand(Command::kBrowse, true);
  display.EnableCommand(Command::kFileName, true);
  return result;
}

int RunDefragmentJob(JobContext& context, FileSession& session) {
  DefragmentJobParams params = PrepareDefragmentJob(*context.display, session);
  return RunDefragmentJob(context, session, params);
}

}  // namespace shardix
