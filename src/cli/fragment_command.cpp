// shardix fragment PATH --count N [--size 1..10]
//                  [--method concentrated|scattered|random|first-fit] [--seed N] [--json]
#include <cstdio>

#include "analysis/analyze_file.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/job_output.h"
#include "cli/stop_signals.h"
#include "cli/terminal_display.h"
#include "fragment/fragment_file.h"
#include "fragment/fragment_job.h"
#include "fragment/placement.h"
#include "fragment/random.h"

namespace shardix::cli {

namespace {

constexpr char kUsage[] =
    "usage: shardix fragment PATH --count N [--size 1..10]\n"
    "                        [--method concentrated|scattered|random|first-fit] [--seed N] "
    "[--json]\n";

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "shardix fragment: %s\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

bool MethodByName(const std::string& name, int32_t* method) {
  static const struct {
    const char* name;
    PlacementMethod method;
  } kNames[] = {{"concentrated", PlacementMethod::kConcentrated},
                {"scattered", PlacementMethod::kScattered},
                {"random", PlacementMethod::kRandom},
                {"first-fit", PlacementMethod::kFirstFit}};
  for (const auto& entry : kNames)
    if (name == entry.name) {
      *method = static_cast<int32_t>(entry.method);
      return true;
    }
  return false;
}

}  // namespace

int RunFragment(const std::vector<std::string>& words) {
  Arguments args =
      ParseArguments(words, {"--json"}, {"--count", "--size", "--method", "--seed"});
  if (!args.error.empty()) return UsageError(args.error);
  if (args.positional.size() != 1) return UsageError("name one file");
  const std::string* count_text = args.Last("--count");
  if (!count_text) return UsageError("--count N is required");

  unsigned long long slider = kFragmentSizeLarge;
  if (const std::string* size = args.Last("--size");
      size && (!ParseUnsigned(*size, &slider) || slider < kFragmentSizeSmall ||
               slider > kFragmentSizeLarge))
    return UsageError("--size takes a whole number from 1 to 10");
  int32_t method = static_cast<int32_t>(PlacementMethod::kConcentrated);
  if (const std::string* name = args.Last("--method"); name && !MethodByName(*name, &method))
    return UsageError("--method takes concentrated, scattered, random or first-fit");
  unsigned long long seed = TimeSeed();
  if (const std::string* text = args.Last("--seed"); text && !ParseUnsigned(*text, &seed))
    return UsageError("--seed takes a whole number");
  SeedRandom(static_cast<uint32_t>(seed));

  const bool json = args.Has("--json");
  const bool colour = !json && IsTerminal(stdout);
  const std::string& path = args.positional[0];
  if (RefuseImageInUse(path, "fragment", json)) return kExitFailure;
  const std::atomic<bool>* stop = InstallStopSignals();

  // The analysis, as Analyze File would show it before the job.
  TerminalDisplay analysis(stdout, false, nullptr);
  FileSession session;
  const bool can_fragment = AnalyzeFile(session, path, analysis);
  const std::string before = AnalysisJson(analysis, session, can_fragment);
  if (!can_fragment) {
    return PrintRefusedAnalysis(analysis, session, path, before, json, colour);
  }
  if (!json) {
    PrintAnalysis(stdout, analysis, ClusterBar::kBefore, colour);
    std::fputc('\n', stdout);
  }

  // The job, with its status lines as they come and a progress bar on a terminal.
  TerminalDisplay job(stdout, !json, IsTerminal(stderr) ? stderr : nullptr);
  FragmentJobParams params;
  if (!PrepareFragmentJob(job, *count_text, analysis.Text(TextField::kMaxValue), method,
                          static_cast<int>(slider), &params)) {
    if (json) PrintJobJson(nullptr, job.status(), before, nullptr);
    return kExitFailure;
  }
  JobContext context{session.volume.get(), session.file.get(), &job, &ProcessRandom(), stop};
  const int result = RunFragmentJob(context, session, params);
  job.FinishProgress();
  if (result == kJobStopped) return PrintStoppedJob(job, "fragments", before, json);

  PrintJobResult(job, session, result, before, json, colour);
  return result == kFragmentSucceeded ? kExitSuccess : kExitFailure;
}

}  // namespace shardix::cli
