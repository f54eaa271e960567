// The command line's subcommands. Each takes the words after its name and
// returns the process exit status: 0 success, 1 refusal or failure, 2 bad
// usage.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_error.h"

namespace shardix {
struct FileSession;
}

namespace shardix::cli {

class TerminalDisplay;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int RunDemo(const std::vector<std::string>& args);
int RunCheck(const std::vector<std::string>& args);
int RunAnalyze(const std::vector<std::string>& args);
int RunFragment(const std::vector<std::string>& args);
int RunDefragment(const std::vector<std::string>& args);
int RunVolumeInfo(const std::vector<std::string>& args);
int RunScenario(const std::vector<std::string>& args);
int RunScore(const std::vector<std::string>& args);

// A refused analysis as one error: the system's words for a file that
// would not open, else the status line's refusal (no code when the status
// is no error). ReportRefusedAnalysis
// prints it on stderr when the status is an error, and says whether it did.
CliError AnalysisError(const std::string& path, const TerminalDisplay& analysis,
                       const FileSession& session);
bool ReportRefusedAnalysis(const std::string& path, const TerminalDisplay& analysis,
                           const FileSession& session);
// Refused before the file could be read: the status line is all it says.
bool AnalysisIsOnlyStatus(const TerminalDisplay& analysis);
// The warning for an image that something else has mounted or holds: it is
// only read, and may change under the reader.
void WarnIfImageInUse(const std::string& path);

}  // namespace shardix::cli
