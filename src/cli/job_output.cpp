#include "cli/job_output.h"

#include <cstdio>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "fragment/placement.h"

namespace shardix::cli {

namespace {

constexpr struct {
  const char* name;
  PlacementMethod method;
} kMethodNames[] = {{"concentrated", PlacementMethod::kConcentrated},
                    {"scattered", PlacementMethod::kScattered},
                    {"random", PlacementMethod::kRandom},
                    {"first-fit", PlacementMethod::kFirstFit}};

}  // namespace

bool PlacementMethodByName(const std::string& name, int32_t* method) {
  for (const auto& entry : kMethodNames)
    if (name == entry.name) {
      *method = static_cast<int32_t>(entry.method);
      return true;
    }
  return false;
}

std::string PlacementMethodName(int32_t method) {
  for (const auto& entry : kMethodNames)
    if (static_cast<int32_t>(entry.method) == method) return entry.name;
  return "";
}

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
