#include "analysis/job_display.h"

#include "analysis/extent_scan.h"
#include "analysis/file_display.h"

namespace shardix {

namespace {

constexpr Command kInputCommands[] = {Command::kAnalyzeFile, Command::kBrowse, Command::kFileName};

}  // namespace

void BeginJobDisplay(Display& display) {
  display.EnableSettings(false);
  for (Command command : kInputCommands) display.EnableCommand(command, false);
  ClearClusterBar(display, ClusterBar::kAfter);
  ShowPercentFragmented(display, TextField::kPercentAfter, kNoValue, kNoValue, kNoValue, kNoValue);
  display.ClearFragmentList();
}

void EndJobDisplay(const JobContext& context, FileSession& session, Display& display) {
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
  if (results.fragment_count <= 1 || results.fragment_count == kNoValue)
    display.EnableCommand(Command::kDefragment, false);
  for (Command command : kInputCommands) display.EnableCommand(command, true);
}

}  // namespace shardix
