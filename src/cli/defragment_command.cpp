// shardix defragment PATH [--json]
#include <cstdio>

#include "analysis/analyze_file.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/job_output.h"
#include "cli/stop_signals.h"
#include "cli/terminal_display.h"
#include "defrag/defragment_job.h"

namespace shardix::cli {

namespace {

constexpr char kUsage[] = "usage: shardix defragment PATH [--json]\n";

}  // namespace

int RunDefragment(const std::vector<std::string>& words) {
  Arguments args = ParseArguments(words, {"--json"}, {});
  if (!args.error.empty() || args.positional.size() != 1) {
    std::fprintf(stderr, "shardix defragment: %s\n%s",
                 args.error.empty() ? "name one file" : args.error.c_str(), kUsage);
    return kExitUsage;
  }
  const bool json = args.Has("--json");
  const bool colour = !json && IsTerminal(stdout);
  const std::string& path = args.positional[0];
  if (RefuseImageInUse(path, "defragment", json)) return kExitFailure;
  const std::atomic<bool>* stop = InstallStopSignals();

  // The analysis, as Analyze File would show it before the job.
  TerminalDisplay analysis(stdout, false, nullptr);
  FileSession session;
  const bool can_fragment = AnalyzeFile(session, path, analysis);
  // The window offers Defragment only for a file of two fragments or more.
  if (can_fragment && !analysis.CommandEnabled(Command::kDefragment))
    analysis.SetStatusError("Only a file of 2 or more fragments can be defragmented");
  const std::string before = AnalysisJson(analysis, session, can_fragment);
  if (analysis.StatusIsError()) {
    return PrintRefusedAnalysis(analysis, session, path, before, json, colour);
  }
  if (!json) {
    PrintAnalysis(stdout, analysis, ClusterBar::kBefore, colour);
    std::fputc('\n', stdout);
  }

  // The job starts from the list the analysis filled, as in the window, with
  // its status lines as they come and a progress bar on a terminal.
  TerminalDisplay job(stdout, !json, IsTerminal(stderr) ? stderr : nullptr);
  for (const FragmentRow& row : analysis.rows()) job.AddFragmentRow(row);
  JobContext context{session.volume.get(), session.file.get(), &job, nullptr, stop};
  const int result = RunDefragmentJob(context, session);
  job.FinishProgress();
  if (result == kJobStopped) return PrintStoppedJob(job, "clusters", before, json);

  PrintJobResult(job, session, result, before, json, colour);
  return result == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace shardix::cli
