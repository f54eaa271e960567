// shardix defragment PATH [--json]
#include <cstdio>

#include "analysis/analyze_file.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/terminal_display.h"
#include "defrag/defragment_job.h"

namespace shardix::cli {

namespace {

constexpr char kUsage[] = "usage: shardix defragment PATH [--json]\n";

// {"result": code or null, "status": ..., "before": ..., "after": ... or null}
void PrintJson(const int* result, const std::string& status, const std::string& before,
               const std::string* after) {
  JsonWriter json;
  json.BeginObject();
  if (result) json.Key("result").SignedNumber(*result);
  else json.Key("result").Null();
  json.Key("status").String(status);
  json.Key("before").Raw(before);
  if (after) json.Key("after").Raw(*after);
  else json.Key("after").Null();
  json.EndObject();
  std::printf("%s\n", json.text().c_str());
}

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

  // The analysis, as Analyze File would show it before the job.
  TerminalDisplay analysis(stdout, false, nullptr);
  FileSession session;
  const bool can_fragment = AnalyzeFile(session, path, analysis);
  // The window offers Defragment only for a file of two fragments or more.
  if (can_fragment && !analysis.CommandEnabled(Command::kDefragment))
    analysis.SetStatusError("Only a file of 2 or more fragments can be defragmented");
  const std::string before = AnalysisJson(analysis, session, can_fragment);
  if (analysis.StatusIsError()) {
    if (json) PrintJson(nullptr, analysis.status(), before, nullptr);
    else PrintAnalysis(stdout, analysis, ClusterBar::kBefore, colour);
    PrintPathHint(path, session);
    return kExitFailure;
  }
  if (!json) {
    PrintAnalysis(stdout, analysis, ClusterBar::kBefore, colour);
    std::fputc('\n', stdout);
  }

  // The job starts from the list the analysis filled, as in the window, with
  // its status lines as they come and a progress bar on a terminal.
  TerminalDisplay job(stdout, !json, IsTerminal(stderr) ? stderr : nullptr);
  for (const FragmentRow& row : analysis.rows()) job.AddFragmentRow(row);
  JobContext context{session.volume.get(), session.file.get(), &job, nullptr, nullptr};
  const int result = RunDefragmentJob(context, session);
  job.FinishProgress();

  if (json) {
    const std::string after = AnalysisJson(job, session, job.CommandEnabled(Command::kFragment),
                                           ClusterBar::kAfter);
    PrintJson(&result, job.status(), before, &after);
  } else {
    std::fputc('\n', stdout);
    PrintAnalysis(stdout, job, ClusterBar::kAfter, colour);
  }
  return result == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace shardix::cli
