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
  WarnIfImageInUse(args.positional[0]);
  TerminalDisplay display(nullptr);
  FileSession session;
  bool can_fragment = AnalyzeFile(session, args.positional[0], display);
  if (args.Has("--json")) {
    const JsonError error = AnalysisError(display, session, args.positional[0]);
    if (!error.code.empty()) PrintErrorLine("analyze", error);
    PrintJson(CommandJson("analyze", error.code.empty() ? nullptr : &error,
                          {{"file", AnalysisJson(display, session, can_fragment)}}));
  } else
    PrintAnalysis(stdout, display, ClusterBar::kBefore, UseColour(stdout, colour));
  PrintPathHint(args.positional[0], session);
  return display.StatusIsError() ? kExitFailure : kExitSuccess;
}

}  // namespace shardix::cli
