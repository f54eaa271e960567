// shardix defragment PATH [--dry-run] [--quiet] [--json]
#include <cstdio>

#include "analysis/analyze_file.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/job_output.h"
#include "cli/stop_signals.h"
#include "cli/terminal_display.h"
#include "cli/usage.h"
#include "defrag/defragment_file.h"
#include "defrag/defragment_job.h"

namespace shardix::cli {

int RunDefragment(const std::vector<std::string>& words) {
  Arguments args = ParseArguments(words, {"--json", "--quiet", "--dry-run"}, {"--color"});
  if (!args.error.empty() || args.positional.size() != 1)
    return UsageError("defragment", args.error.empty() ? "name one file" : args.error);
  JobOutput output;
  output.command = "defragment";
  output.json = args.Has("--json");
  output.quiet = !output.json && args.Has("--quiet");
  ColourMode colour = ColourMode::kAuto;
  if (const std::string* text = args.Last("--color"); text && !ParseColourMode(*text, &colour))
    return UsageError("defragment", "--color takes auto, always or never");
  output.colour = !output.json && !output.quiet && UseColour(stdout, colour);
  output.dry_run = args.Has("--dry-run");
  const std::string& path = args.positional[0];
  output.path = path;
  if (RefuseImageInUse(path, "defragment", output)) return kExitFailure;
  // A plan only reads: the image is opened so that nothing can write it.
  if (output.dry_run) OpenForPlanningOnly();
  const std::atomic<bool>* stop = InstallStopSignals();

  // The analysis, as Analyze File would show it before the job.
  TerminalDisplay analysis(nullptr);
  analysis.SetSubject(path);
  FileSession session;
  const bool can_fragment = AnalyzeFile(session, path, analysis);
  // The window offers Defragment only for a file of two fragments or more.
  if (can_fragment && !analysis.CommandEnabled(Command::kDefragment)) {
    analysis.SetStatusError("Only a file of 2 or more fragments can be defragmented");
    session.refusal = "not-fragmented";
  }
  output.before = AnalysisJson(analysis, session, can_fragment);
  if (analysis.StatusIsError()) return PrintRefusedAnalysis(output, analysis, session, path);
  if (!output.json && !output.quiet) {
    PrintAnalysis(stdout, analysis, ClusterBar::kBefore, output.colour);
    std::fputc('\n', stdout);
    std::fflush(stdout);  // seen before a long job, also through a pipe
  }

  // The job starts from the list the analysis filled, as in the window, with
  // its status line and progress bar redrawn on a terminal.
  // A plan has no progress to show.
  TerminalDisplay job(output.json || output.quiet || output.dry_run ? nullptr : ProgressStream());
  job.SetSubject(path);
  for (const FragmentRow& row : analysis.rows()) job.AddFragmentRow(row);
  if (session.volume) output.volume_name = session.volume->DisplayName();
  JobContext context{session.volume.get(), session.file.get(), &job, nullptr, stop};
  if (output.dry_run) {
    const DefragmentJobParams params = PrepareDefragmentJob(job, session);
    std::vector<PlannedPiece> plan;
    const int result = PlanDefragment(context, params.fragment_count, params.cluster_count, &plan);
    job.FinishProgress();
    bool is_error = false;
    const std::string outcome = DefragmentOutcomeText(result, &is_error);
    const std::string status = result == 0 ? DryRunStatus(plan.size()) : "Error: " + outcome;
    return PrintPlan(output, job, status, plan, result);
  }
  const int result = RunDefragmentJob(context, session);
  job.FinishProgress();
  output.write_error = context.write_error;
  output.refused = !context.refusal.empty();
  if (result == kJobStopped) return PrintStoppedJob(output, job, "clusters", context.committed);
  // After a failed write-back the mount's picture is not the disk's: the
  // file is read again from the image as it now is.
  if (context.write_error) RereadAfterFailedWrites(path, session, job);

  PrintJobResult(output, job, session, result, context.committed);
  return result == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace shardix::cli
