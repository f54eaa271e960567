// shardix: the command line front end.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/usage.h"
#include "volume/notices.h"
#ifdef _WIN32
#include "volume/unicode_text.h"
#include "volume/wide_text.h"
#endif

namespace {

bool AsksForHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;  // paths only from here
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

// Scenario images need mkntfs, run as a child process (Linux only);
// other builds say so instead of calling it an unknown command.
int Scenario(const std::vector<std::string>& args) {
#ifdef SHARDIX_HAVE_SCENARIO
  return shardix::cli::RunScenario(args);
#else
  (void)args;
  std::fputs("shardix scenario: not in this build: scenario images are made with mkntfs and\n"
             "libntfs-3g on Linux\n", stderr);
  return shardix::cli::kExitFailure;
#endif
}

// Scoring reads scenario manifests, which only those builds make.
int Score(const std::vector<std::string>& args) {
#ifdef SHARDIX_HAVE_SCENARIO
  return shardix::cli::RunScore(args);
#else
  (void)args;
  std::fputs("shardix score: not in this build: it goes with scenario images, on Linux\n", stderr);
  return shardix::cli::kExitFailure;
#endif
}

}  // namespace

namespace {

// `argv` in UTF-8, the program's name first.
// What the volume layer has to say beside a command's result (a journal
// played back on opening an image, say) goes to the error stream.
void PrintNotice(const std::string& text) { std::fprintf(stderr, "shardix: %s\n", text.c_str()); }

int Run(const std::vector<std::string>& argv) {
  using namespace shardix::cli;
  shardix::SetNoticeSink(PrintNotice);
  if (argv.size() < 2) {
    PrintCommandHelp(stderr, "");
    return kExitUsage;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv.begin() + 2, argv.end());
  SetUsageErrorsAsJson(AsksForJson(args));
  if (command == "--version" || command == "-V" || command == "version") {
    PrintVersion(stdout);
    return kExitSuccess;
  }
  if (command == "help" || command == "--help" || command == "-h") {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
      PrintCommandHelp(stdout, "help");
      return kExitSuccess;
    }
    if (args.size() > 1) return UsageError("help", "name one command");
    if (!PrintCommandHelp(stdout, args.empty() ? "" : args[0]))
      return UsageError("help", "unknown command '" + args[0] + "'");
    return kExitSuccess;
  }
  static const struct {
    const char* name;
    int (*run)(const std::vector<std::string>&);
  } kRunners[] = {{"analyze", RunAnalyze},         {"fragment", RunFragment},
                  {"defragment", RunDefragment},   {"volume-info", RunVolumeInfo},
                  {"check", RunCheck},             {"scenario", Scenario},
                  {"score", Score},                {"demo", RunDemo}};
  for (const auto& runner : kRunners) {
    if (command != runner.name) continue;
    if (AsksForHelp(args)) {
      PrintCommandHelp(stdout, command);
      return kExitSuccess;
    }
    return runner.run(args);
  }
  std::vector<std::string> names = {"help"};
  for (const auto& runner : kRunners) names.push_back(runner.name);
  const std::string nearest = NearestWord(command, names);
  if (AsksForJson(args)) {
    const JsonError error{"usage", "unknown command '" + command + "'", "", ""};
    PrintJson(CommandJson(command, &error, Json::object()));
  }
  if (!nearest.empty()) {
    std::fprintf(stderr, "shardix: unknown command '%s'; did you mean '%s'?\n", command.c_str(),
                 nearest.c_str());
    return kExitUsage;
  }
  std::fprintf(stderr, "shardix: unknown command '%s'\n\n", command.c_str());
  PrintCommandHelp(stderr, "");
  return kExitUsage;
}

}  // namespace

#ifdef _WIN32
// Windows hands the arguments over as UTF-16 (linked with -municode).
int wmain(int argc, wchar_t** argv) {
  shardix::UseUtf8ConsoleOutput();
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    bool valid = true;
    args.push_back(shardix::Utf8FromWide(argv[i], &valid));
    // No UTF-8 text names it: whatever opened would be another file.
    if (!valid) {
      std::fprintf(stderr, "shardix: %s\n", shardix::InvalidNameText(args.back()).c_str());
      return shardix::cli::kExitFailure;
    }
  }
  return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv, argv + argc)); }
#endif
