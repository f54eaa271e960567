// shardix defragment PATH [--quiet] [--json]
#include <cstdio>

#include "analysis/analyze_file.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/job_output.h"
#include "cli/stop_signals.h"
#include "cli/terminal_display.h"
#include "cli/usage.h"
#include "defrag/defragment_job.h"

namespace shardix::cli {

int RunDefragment(const std::vector<std::string>& words) {
  Arguments args = ParseArguments(words, {"--json", "--quiet"}, {"--color"});
  if (!args.error.empty() || args.positional.size() != 1)
    return UsageError("defragment", args.error.empty() ? "name one file" : args.error);
  JobOutput output;
  output.json = args.Has("--json");
  output.quiet = !output.json && args.Has("--quiet");
  ColourMode colour = ColourMode::kAuto;
  if (const std::string* text = args.Last("--color"); text && !ParseColourMode(*text, &colour))
    return UsageError("defragment", "--color takes auto, always or never");
  output.colour = !output.json && !output.quiet && UseColour(stdout, colour);
  const std::string& path = args.positional[0];
  if (RefuseImageInUse(path, "defragment", output)) return kExitFailure;
  const std::atomic<bool>* stop = InstallStopSignals();

  // The analysis, as Analyze File would show it before the job.
  TerminalDisplay analysis(nullptr);
  FileSession session;
  const bool can_fragment = AnalyzeFile(session, path, analysis);
  // The window offers Defragment only for a file of two fragments or more.
  if (can_fragment && !analysis.CommandEnabled(Command::kDefragment))
    analysis.SetStatusError("Only a file of 2 or more fragments can be defragmented");
  output.before = AnalysisJson(analysis, session, can_fragment);
  if (analysis.StatusIsError()) return PrintRefusedAnalysis(output, analysis, session, path);
  if (!output.json && !output.quiet) {
    PrintAnalysis(stdout, analysis, ClusterBar::kBefore, output.colour);
    std::fputc('\n', stdout);
    std::fflush(stdout);  // seen before a long job, also through a pipe
  }

  // The job starts from the list the analysis filled, as in the window, with
  // its status line and progress bar redrawn on a terminal.
  TerminalDisplay job(output.json || output.quiet ? nullptr : ProgressStream());
  for (const FragmentRow& row : analysis.rows()) job.AddFragmentRow(row);
  JobContext context{session.volume.get(), session.file.get(), &job, nullptr, stop};
  const int result = RunDefragmentJob(context, session);
  job.FinishProgress();
  if (result == kJobStopped) return PrintStoppedJob(output, job, "clusters", context.moved);

  PrintJobResult(output, job, session, result, context.moved);
  return result == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace shardix::cli
