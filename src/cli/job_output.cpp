#include "cli/job_output.h"

#include <cstdio>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/stop_signals.h"
#include "display/job_context.h"
#include "volume/image_path.h"
#ifdef SHARDIX_HAVE_NTFSIMAGE
#include "volume/ntfsimage/ntfs_image.h"
#endif

namespace shardix::cli {

void PrintJobJson(const int* result, const std::string& status, const std::string& before,
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

int PrintRefusedAnalysis(const TerminalDisplay& analysis, const FileSession& session,
                         const std::string& path, const std::string& before, bool json,
                         bool colour) {
  if (json) PrintJobJson(nullptr, analysis.status(), before, nullptr);
  else PrintAnalysis(stdout, analysis, ClusterBar::kBefore, colour);
  PrintPathHint(path, session);
  return kExitFailure;
}

bool RefuseImageInUse(const std::string& path, const char* command, bool json) {
#ifdef SHARDIX_HAVE_NTFSIMAGE
  ImagePath split;
  if (!SplitImagePath(path, &split)) return false;
  const std::string in_use = ImageInUseElsewhere(split.image);
  if (in_use.empty()) return false;
  const std::string status = "Error: " + split.image + " is " + in_use +
                             "; it is left untouched while something else may write it";
  if (json) PrintJobJson(nullptr, status, "null", nullptr);
  else std::printf("%s\n", status.c_str());
  std::fprintf(stderr, "shardix %s: unmount %s (or end the program holding it) and try again\n",
               command, split.image.c_str());
  return true;
#else
  (void)path, (void)command, (void)json;
  return false;
#endif
}

int PrintStoppedJob(const TerminalDisplay& job, const char* unit, const std::string& before,
                    bool json) {
  const std::string status = StoppedText(job.progress_position(), job.progress_maximum(), unit);
  if (json) {
    const int result = kJobStopped;
    PrintJobJson(&result, status, before, nullptr);
  } else {
    std::printf("%s\n", status.c_str());
  }
  std::fflush(stdout);
  return StopExitStatus();
}

void PrintJobResult(const TerminalDisplay& job, const FileSession& session, int result,
                    const std::string& before, bool json, bool colour) {
  if (json) {
    const std::string after = AnalysisJson(job, session, job.CommandEnabled(Command::kFragment),
                                           ClusterBar::kAfter);
    PrintJobJson(&result, job.status(), before, &after);
  } else {
    std::fputc('\n', stdout);
    PrintAnalysis(stdout, job, ClusterBar::kAfter, colour);
  }
}

}  // namespace shardix::cli
