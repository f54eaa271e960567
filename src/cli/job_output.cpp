#include "cli/job_output.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/stop_signals.h"
#include "analysis/job_display.h"
#include "display/job_context.h"
#include "display/text_util.h"
#include "fragment/fragment_file.h"
#include "fragment/placement.h"
#include "volume/error_codes.h"
#include "volume/image_path.h"
#include "volume/system_error.h"
#ifdef SHARDIX_HAVE_NTFSIMAGE
#include "volume/ntfsimage/ntfs_image.h"
#endif

namespace shardix::cli {

namespace {

std::string Fragments(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " fragment" : " fragments");
}

// The status line, and what happened, as the last lines of the text output.
void PrintOutcome(const JobOutput& output, const TerminalDisplay& job, int result, uint64_t moved,
                  uint64_t fragments_now, bool with_status) {
  if (with_status && !job.status().empty() && !ReportErrorStatus(job.status(), job.box_shown()))
    std::printf("%s\n", job.status().c_str());
  const std::string note = JobOutcomeNote(output, result, moved, fragments_now);
  if (!note.empty()) std::printf("%s\n", note.c_str());
  if (output.fragment && output.seed_drawn) std::printf("Seed: %" PRIu32 "\n", output.seed);
}

// The window's names of the placement methods.
std::string MethodTitle(int32_t method) {
  constexpr const char* kTitles[] = {"Concentrated", "Scattered", "Random", "First Fit"};
  return method >= 0 && method < kPlacementMethodCount ? kTitles[method] : "";
}

// Why a plan stopped short, and what to do: nothing was moved.
std::string NoRoomNote(const JobOutput& output) {
  const uint64_t placed = output.planned, asked = output.requested;
  const uint64_t next = placed + 1 == asked ? output.cluster_count - placed * output.fragment_size
                                            : output.fragment_size;
  return "Only " + std::to_string(placed) + " of the " + std::to_string(asked) + " pieces fit by " +
         MethodTitle(output.method) + ": piece " + std::to_string(placed + 1) + " needs " +
         std::to_string(next) + " free clusters in a row. " +
         (output.dry_run ? "A run would move nothing" : "Nothing was moved") +
         "; ask for fewer fragments, a smaller --size or another --method.";
}

}  // namespace

std::string JobOutcomeNote(const JobOutput& output, int result, uint64_t moved,
                           uint64_t fragments_now) {
  const std::string now =
      fragments_now == kNoValue ? std::string() : " (it now has " + Fragments(fragments_now) + ")";
  if (output.refused) return "";  // the status line says why, and that nothing moved
  if (output.write_error != 0) {
    const std::string of = output.fragment ? " of the " + std::to_string(output.requested) +
                                                 " fragments"
                                           : (moved == 1 ? " piece" : " pieces");
    const std::string where = output.volume_name.empty() ? "the disk" : output.volume_name;
    return "Writing the moves to " + where + " failed (" + ErrorFromCode(output.write_error).message() +
           "): " + std::to_string(moved) + of + " reached it; the file's data is intact" + now + ".";
  }
  if (output.fragment && result == kFragmentNoRoom && moved == 0 &&
      output.planned < output.requested)
    return NoRoomNote(output);
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
                  const std::string* after, uint64_t moved,
                  const std::vector<PlannedPiece>* plan) {
  JsonWriter json;
  json.BeginObject();
  if (result) json.Key("result").SignedNumber(*result);
  else json.Key("result").Null();
  json.Key("status").String(status);
  json.Key("before").Raw(output.before);
  if (after) json.Key("after").Raw(*after);
  else json.Key("after").Null();
  if (output.fragment) json.Key("requested").Number(output.requested);
  json.Key("moved").Number(moved);
  // Pieces the plan found room for: fewer than requested when it refused.
  if (output.fragment) json.Key("planned").Number(output.planned);
  if (output.fragment) json.Key("seed").Number(output.seed);
  if (plan) {
    json.Key("dry_run").Bool(true);
    json.Key("plan").BeginArray();
    uint64_t number = 0;
    for (const PlannedPiece& piece : *plan) {
      json.BeginObject();
      json.Key("number").Number(++number);
      json.Key("clusters").Number(static_cast<uint64_t>(piece.clusters));
      json.Key("lcn").Number(static_cast<uint64_t>(piece.lcn));
      json.EndObject();
    }
    json.EndArray();
  }
  json.EndObject();
  std::printf("%s\n", json.text().c_str());
}

bool ReportErrorStatus(const std::string& status, bool echoed) {
  if (!IsErrorStatus(status.c_str())) return false;
  const std::string prefix = "Error: ";
  if (!echoed)
    ReportError({"job-failed", status.rfind(prefix, 0) == 0 ? status.substr(prefix.size()) : status,
                 "", ""});
  return true;
}

std::string DryRunStatus(uint64_t pieces) {
  return "Dry run: " + std::to_string(pieces) + (pieces == 1 ? " piece" : " pieces") +
         " planned; nothing was moved.";
}

int PrintPlan(const JobOutput& output, const std::string& status,
              const std::vector<PlannedPiece>& plan, int result) {
  if (output.json) {
    PrintJobJson(output, &result, status, nullptr, 0, &plan);
  } else {
    if (!output.quiet) {
      std::printf("Plan (dry run):\n\n  %10s %12s %24s\n", "Fragment #", "Clusters",
                  "Target Location (LCN)");
      uint64_t number = 0;
      for (const PlannedPiece& piece : plan)
        std::printf("  %10" PRIu64 " %12" PRId64 " %24" PRId64 "\n", ++number, piece.clusters,
                    piece.lcn);
      std::fputc('\n', stdout);
    }
    if (!ReportErrorStatus(status, false)) std::printf("%s\n", status.c_str());
    if (result != 0 && output.fragment && output.planned < output.requested)
      std::printf("%s\n", NoRoomNote(output).c_str());
    if (output.fragment && output.seed_drawn) std::printf("Seed: %" PRIu32 "\n", output.seed);
  }
  return result == 0 ? kExitSuccess : kExitFailure;
}

int PrintRefusedAnalysis(const JobOutput& output, const TerminalDisplay& analysis,
                         const FileSession& session, const std::string& path) {
  const bool reported = ReportRefusedAnalysis(path, analysis, session);
  if (output.json) PrintJobJson(output, nullptr, analysis.status(), nullptr, 0);
  else if (!reported) std::printf("%s\n", analysis.status().c_str());
  else if (!output.quiet && !AnalysisIsOnlyStatus(analysis))
    PrintAnalysis(stdout, analysis, ClusterBar::kBefore, output.colour, false);
  return kExitFailure;
}

bool RefuseImageInUse(const std::string& path, const char* command, const JobOutput& output) {
#ifdef SHARDIX_HAVE_NTFSIMAGE
  (void)command;  // the refusal is the same for every job
  ImagePath split;
  if (!SplitImagePath(path, &split)) return false;
  const std::string in_use = ImageInUseElsewhere(split.image);
  if (in_use.empty()) return false;
  const std::string status = "Error: " + split.image + " is " + in_use +
                             "; it is left untouched while something else may write it";
  JobOutput refused = output;
  refused.before = "null";
  if (output.json) PrintJobJson(refused, nullptr, status, nullptr, 0);
  ReportError({"volume-in-use",
               split.image + " is " + in_use + "; it is left untouched while something else may "
               "write it: unmount it (or end the program holding it) and try again",
               split.image, ""});
  return true;
#else
  (void)path, (void)command, (void)output;
  return false;
#endif
}

void OpenForPlanningOnly() {
#ifdef SHARDIX_HAVE_NTFSIMAGE
  OpenImagesForReadingOnly();
#endif
}

void RereadAfterFailedWrites(const std::string& path, FileSession& session, TerminalDisplay& job) {
  session.file.reset();
  session.volume.reset();  // the last handle: the mount goes, writing nothing more
  const std::string name = session.analysed_path.empty() ? path : session.analysed_path;
  if (OpenFileByPath(name, &session.file) != 0) return;
  OpenVolumeByPath(name, &session.volume);
  JobContext reread{session.volume.get(), session.file.get(), &job, nullptr, nullptr};
  job.ClearFragmentList();
  EndJobDisplay(reread, session, job);
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
    const bool failed =
        !job.echoes_status() && ReportErrorStatus(job.status(), job.box_shown());
    PrintAnalysis(stdout, job, ClusterBar::kAfter, output.colour, !failed);
    std::fputc('\n', stdout);
  }
  PrintOutcome(output, job, result, moved, session.results.fragment_count, output.quiet);
}

}  // namespace shardix::cli
