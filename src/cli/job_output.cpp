#include "cli/job_output.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/stop_signals.h"
#include "fragment/placement.h"
#include "display/job_context.h"
#include "volume/image_path.h"
#ifdef SHARDIX_HAVE_NTFSIMAGE
#include "volume/ntfsimage/ntfs_image.h"
#endif

namespace shardix::cli {

namespace {

// The method's name in any case; First Fit also without its hyphen or with
// an underscore. The first name of each is the one shown.
constexpr struct {
  const char* name;
  PlacementMethod method;
} kMethodNames[] = {{"concentrated", PlacementMethod::kConcentrated},
                    {"scattered", PlacementMethod::kScattered},
                    {"random", PlacementMethod::kRandom},
                    {"first-fit", PlacementMethod::kFirstFit},
                    {"firstfit", PlacementMethod::kFirstFit},
                    {"first_fit", PlacementMethod::kFirstFit}};

std::string Fragments(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " fragment" : " fragments");
}

// The status line, and what happened, as the last lines of the text output.
void PrintOutcome(const JobOutput& output, const TerminalDisplay& job, int result, uint64_t moved,
                  uint64_t fragments_now, bool with_status) {
  if (with_status && !job.status().empty()) std::printf("%s\n", job.status().c_str());
  const std::string note = JobOutcomeNote(output, result, moved, fragments_now);
  if (!note.empty()) std::printf("%s\n", note.c_str());
  if (output.fragment && output.seed_drawn) std::printf("Seed: %" PRIu32 "\n", output.seed);
}

}  // namespace

bool PlacementMethodByName(std::string name, int32_t* method) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
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

std::string JobOutcomeNote(const JobOutput& output, int result, uint64_t moved,
                           uint64_t fragments_now) {
  const std::string now =
      fragments_now == kNoValue ? std::string() : " (it now has " + Fragments(fragments_now) + ")";
  if (result != 0) {
    // Every move is whole or not made, so what was moved is in place and
    // the rest is where it was.
    if (output.fragment)
      return std::to_string(moved) + " of the " + std::to_string(output.requested) +
             " fragments were moved before the job stopped; the file's data is intact" + now + ".";
    return std::to_string(moved) + (moved == 1 ? " piece was" : " pieces were") +
           " moved before the job stopped; the file's data is intact" + now + ".";
  }
  if (!output.fragment || fragments_now == kNoValue) return "";
  const uint64_t asked = output.requested;
  if (fragments_now == asked) return "The file now has " + Fragments(asked) + ", as asked.";
  std::string note =
      "The file now has " + Fragments(fragments_now) + ", not the " + std::to_string(asked) + " asked for";
  if (fragments_now > asked) return note + ".";
  const uint64_t joined = asked - fragments_now;
  if (output.first_fit)
    return note + ": First Fit places pieces side by side, where they join again (" +
           std::to_string(joined) + " of the " + std::to_string(asked) + " pieces joined).";
  return note + ": " + std::to_string(joined) + " of the " + std::to_string(asked) +
         " pieces were placed next to each other and joined.";
}

void PrintJobJson(const JobOutput& output, const int* result, const std::string& status,
                  const std::string* after, uint64_t moved) {
  JsonWriter json;
  json.BeginObject();
  if (result) json.Key("result").SignedNumber(*result);
  else json.Key("result").Null();
  json.Key("status").String(status);
  json.Key("before").Raw(output.before);
  if (after) json.Key("after").Raw(*after);
  else json.Key("after").Null();
  // A count too large for 64 bits was refused as out of range; it has no number.
  if (output.fragment) json.Key("requested").OptionalNumber(output.requested_fits ? std::optional<uint64_t>(output.requested) : std::nullopt);
  json.Key("moved").Number(moved);
  if (output.fragment) json.Key("seed").Number(output.seed);
  json.EndObject();
  std::printf("%s\n", json.text().c_str());
}

int PrintRefusedAnalysis(const JobOutput& output, const TerminalDisplay& analysis,
                         const FileSession& session, const std::string& path) {
  if (output.json) PrintJobJson(output, nullptr, analysis.status(), nullptr, 0);
  else if (output.quiet) std::printf("%s\n", analysis.status().c_str());
  else PrintAnalysis(stdout, analysis, ClusterBar::kBefore, output.colour);
  PrintPathHint(path, session);
  return kExitFailure;
}

bool RefuseImageInUse(const std::string& path, const char* command, const JobOutput& output) {
#ifdef SHARDIX_HAVE_NTFSIMAGE
  ImagePath split;
  if (!SplitImagePath(path, &split)) return false;
  const std::string in_use = ImageInUseElsewhere(split.image);
  if (in_use.empty()) return false;
  const std::string status = "Error: " + split.image + " is " + in_use +
                             "; it is left untouched while something else may write it";
  JobOutput refused = output;
  refused.before = "null";
  if (output.json) PrintJobJson(refused, nullptr, status, nullptr, 0);
  else std::printf("%s\n", status.c_str());
  std::fprintf(stderr, "shardix %s: unmount %s (or end the program holding it) and try again\n",
               command, split.image.c_str());
  return true;
#else
  (void)path, (void)command, (void)output;
  return false;
#endif
}

int PrintStoppedJob(const JobOutput& output, const TerminalDisplay& job, const char* unit,
                    uint64_t moved) {
  const std::string status = StoppedText(job.progress_position(), job.progress_maximum(), unit);
  if (output.json) {
    const int result = kJobStopped;
    PrintJobJson(output, &result, status, nullptr, moved);
  } else {
    std::printf("%s\n", status.c_str());
    if (output.fragment && output.seed_drawn) std::printf("Seed: %" PRIu32 "\n", output.seed);
  }
  std::fflush(stdout);
  return StopExitStatus();
}

void PrintJobResult(const JobOutput& output, const TerminalDisplay& job,
                    const FileSession& session, int result, uint64_t moved) {
  if (output.json) {
    const std::string after = AnalysisJson(job, session, job.CommandEnabled(Command::kFragment),
                                           ClusterBar::kAfter);
    PrintJobJson(output, &result, job.status(), &after, moved);
    return;
  }
  if (!output.quiet) {
    std::fputc('\n', stdout);
    PrintAnalysis(stdout, job, ClusterBar::kAfter, output.colour);
    std::fputc('\n', stdout);
  }
  PrintOutcome(output, job, result, moved, session.results.fragment_count, output.quiet);
}

}  // namespace shardix::cli
