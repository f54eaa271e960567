// The command line's subcommands. Each takes the words after its name and
// returns the process exit status: 0 success, 1 refusal or failure, 2 bad
// usage.
#pragma once

#include <string>
#include <vector>

namespace shardix {
struct FileSession;
}

namespace shardix::cli {

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

// On stderr, how to name a file the layer could not reach (outside Windows
// only files inside NTFS images can be), when that is why it failed.
void PrintPathHint(const std::string& path, const FileSession& session);
// The warning for an image that something else has mounted or holds: it is
// only read, and may change under the reader.
void WarnIfImageInUse(const std::string& path);

}  // namespace shardix::cli
