// shardix analyze PATH [--json]
#include <cstdio>

#include "analysis/analyze_file.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/terminal_display.h"
#include "cli/usage.h"

namespace shardix::cli {

int RunAnalyze(const std::vector<std::string>& words) {
  Arguments args = ParseArguments(words, {"--json"}, {"--color"});
  if (!args.error.empty() || args.positional.size() != 1)
    return UsageError("analyze", args.error.empty() ? "name one file" : args.error);
  ColourMode colour = ColourMode::kAuto;
  if (const std::string* text = args.Last("--color"); text && !ParseColourMode(*text, &colour))
    return UsageError("analyze", "--color takes auto, always or never");
  const std::string& path = args.positional[0];
  WarnIfImageInUse(path);
  TerminalDisplay display(nullptr);
  display.SetSubject(path);
  FileSession session;
  bool can_fragment = AnalyzeFile(session, path, display);
  // A refusal is said on stderr; what was read of the file is the result.
  const bool refused = ReportRefusedAnalysis(path, display, session);
  if (args.Has("--json")) {
    const JsonError error = AnalysisError(path, display, session);
    PrintJson(CommandJson("analyze", refused ? &error : nullptr,
                          {{"file", AnalysisJson(display, session, can_fragment)}}));
  } else if (!refused || !AnalysisIsOnlyStatus(display))
    PrintAnalysis(stdout, display, ClusterBar::kBefore, UseColour(stdout, colour), !refused);
  return refused ? kExitFailure : kExitSuccess;
}

}  // namespace shardix::cli
