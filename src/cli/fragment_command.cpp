// shardix fragment PATH --count N [--size 1..10]
//                  [--method concentrated|scattered|random|first-fit] [--seed N]
//                  [--dry-run] [--quiet] [--json]
#include <cstdio>
#include <limits>

#include "analysis/analyze_file.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/job_output.h"
#include "cli/stop_signals.h"
#include "cli/terminal_display.h"
#include "cli/usage.h"
#include "fragment/fragment_file.h"
#include "fragment/fragment_job.h"
#include "fragment/placement.h"
#include "fragment/random.h"

namespace shardix::cli {

namespace {

int UsageError(const std::string& problem) { return cli::UsageError("fragment", problem); }

}  // namespace

int RunFragment(const std::vector<std::string>& words) {
  Arguments args = ParseArguments(words, {"--json", "--quiet", "--dry-run"},
                                  {"--count", "--size", "--method", "--seed", "--color"});
  if (!args.error.empty()) return UsageError(args.error);
  if (args.positional.size() != 1) return UsageError("name one file");
  const std::string* count_text = args.Last("--count");
  if (!count_text) return UsageError("--count N is required");
  // A count no file could take is bad usage, found before any work; one
  // past this file's "Max:" is the job's own refusal after the analysis.
  unsigned long long requested = 0;
  if (!IsDecimal(*count_text)) return UsageError("--count takes a whole decimal number");
  if (!ParseUnsigned(*count_text, &requested) || requested == 0 ||
      requested > std::numeric_limits<uint32_t>::max())
    return UsageError("--count takes a whole number from 1 to 4294967295 (at most the file's \"Max:\")");

  unsigned long long slider = kFragmentSizeLarge;
  if (const std::string* size = args.Last("--size");
      size && (!ParseUnsigned(*size, &slider) || slider < kFragmentSizeSmall ||
               slider > kFragmentSizeLarge))
    return UsageError("--size takes a whole number from 1 to 10");
  int32_t method = static_cast<int32_t>(PlacementMethod::kConcentrated);
  if (const std::string* name = args.Last("--method"); name && !PlacementMethodByName(*name, &method))
    return UsageError("--method takes concentrated, scattered, random or first-fit");
  JobOutput output;
  output.fragment = true;
  output.command = "fragment";
  output.first_fit = method == static_cast<int32_t>(PlacementMethod::kFirstFit);
  output.seed_drawn = args.Last("--seed") == nullptr;
  output.seed = SystemRandomSeed();
  if (const std::string* text = args.Last("--seed")) {
    unsigned long long seed = 0;
    if (!ParseUnsigned(*text, &seed) || seed > std::numeric_limits<uint32_t>::max())
      return UsageError("--seed takes a whole number from 0 to 4294967295");
    output.seed = static_cast<uint32_t>(seed);
  }
  SeedRandom(output.seed);
  output.requested = requested;

  output.json = args.Has("--json");
  output.quiet = !output.json && args.Has("--quiet");
  ColourMode colour = ColourMode::kAuto;
  if (const std::string* text = args.Last("--color"); text && !ParseColourMode(*text, &colour))
    return UsageError("--color takes auto, always or never");
  output.colour = !output.json && !output.quiet && UseColour(stdout, colour);
  output.dry_run = args.Has("--dry-run");
  output.method = method;
  const std::string& path = args.positional[0];
  output.path = path;
  if (RefuseImageInUse(path, "fragment", output)) return kExitFailure;
  // A plan only reads: the image is opened so that nothing can write it.
  if (output.dry_run) OpenForPlanningOnly();
  const std::atomic<bool>* stop = InstallStopSignals();

  // The analysis, as Analyze File would show it before the job.
  TerminalDisplay analysis(nullptr);
  analysis.SetSubject(path);
  FileSession session;
  const bool can_fragment = AnalyzeFile(session, path, analysis);
  output.before = AnalysisJson(analysis, session, can_fragment);
  if (!can_fragment) return PrintRefusedAnalysis(output, analysis, session, path);
  if (!output.json && !output.quiet) {
    PrintAnalysis(stdout, analysis, ClusterBar::kBefore, output.colour);
    std::fputc('\n', stdout);
    std::fflush(stdout);  // seen before a long job, also through a pipe
  }

  // The job, with its status line and progress bar redrawn on a terminal.
  // A plan has no progress to show.
  TerminalDisplay job(output.json || output.quiet || output.dry_run ? nullptr : ProgressStream());
  job.SetSubject(path);
  FragmentJobParams params;
  if (!PrepareFragmentJob(job, *count_text, analysis.Text(TextField::kMaxValue),
                          method, static_cast<int>(slider), &params)) {
    job.FinishProgress();
    const bool said = ReportErrorStatus(job.status(), job.echoes_status());
    if (output.json)
      PrintJobJson(output, {"refused", {"count-out-of-range", StatusMessage(job.status()), path, ""}},
                   job.status(), nullptr, 0);
    else if (!said && !job.echoes_status())
      std::printf("%s\n", job.status().c_str());
    return kExitFailure;
  }
  output.fragment_size = params.fragment_size;
  output.cluster_count = params.cluster_count;
  if (session.volume) output.volume_name = session.volume->DisplayName();
  JobContext context{session.volume.get(), session.file.get(), &job, &ProcessRandom(), stop};
  if (output.dry_run) {
    FragmentPlan plan;
    plan.dry_run = true;
    const int result = FragmentFile(context, params.fragment_count, params.fragment_size,
                                    params.method, params.cluster_count, &plan);
    job.FinishProgress();
    if (result == kJobStopped) return PrintStoppedJob(output, job, "fragments", 0);
    output.planned = context.planned;
    const std::string status = result == kFragmentSucceeded
                                   ? DryRunStatus(plan.pieces.size())
                                   : "Error: " + FragmentOutcomeText(result);
    return PrintPlan(output, job, status, plan.pieces, result);
  }
  const int result = RunFragmentJob(context, session, params);
  job.FinishProgress();
  output.planned = context.planned;
  output.write_error = context.write_error;
  output.refused = !context.refusal.empty();
  if (result == kJobStopped) return PrintStoppedJob(output, job, "fragments", context.committed);
  // After a failed write-back the mount's picture is not the disk's: the
  // file is read again from the image as it now is.
  if (context.write_error) RereadAfterFailedWrites(path, session, job);

  PrintJobResult(output, job, session, result, context.committed);
  return result == kFragmentSucceeded ? kExitSuccess : kExitFailure;
}

}  // namespace shardix::cli
