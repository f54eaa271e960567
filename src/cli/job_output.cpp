#include "cli/job_output.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "cli/commands.h"
#include "cli/stop_signals.h"
#include "analysis/job_display.h"
#include "display/job_context.h"
#include "display/text_util.h"
#include "defrag/defragment_file.h"
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

namespace {

// The short name of a job's result other than success.
std::string ResultCode(const JobOutput& output, const TerminalDisplay& job, int result) {
  if (job.box_code() != 0) return ErrorCodeName(job.box_code());
  if (output.fragment) return result == kFragmentNoRoom ? "no-room" : "move-failed";
  switch (result) {
    case kDefragmentNoSpace: return "no-space";
    case kDefragmentRunsTooShort: return "runs-too-short";
    default: return "move-failed";
  }
}

}  // namespace

JobEnd JobEndOf(const JobOutput& output, const TerminalDisplay& job, int result, uint64_t moved) {
  JobEnd end;
  if (result == 0 && output.write_error == 0) {
    end.outcome = "done";
    return end;
  }
  end.error.path = output.path;
  end.error.message = StatusMessage(job.status());
  if (result == kJobStopped) {
    end.outcome = "stopped";
    end.error.code = "stopped";
    return end;
  }
  if (output.write_error != 0) {
    end.error.code = ErrorCodeName(output.write_error);
    end.error.message = JobOutcomeNote(output, result, moved, kNoValue);
    end.told = job.box_code() != 0;
  } else if (output.refused) {
    end.error.code = "volume-refused";
  } else {
    end.error.code = ResultCode(output, job, result);
    end.told = job.box_code() != 0;
  }
  // A plan that found no room for every piece moves nothing: refused.
  const bool no_room = output.dry_run || (output.fragment && result == kFragmentNoRoom &&
                                          output.planned < output.requested);
  if (output.refused || (moved == 0 && no_room)) end.outcome = "refused";
  else end.outcome = moved > 0 ? "partial" : "failed";
  return end;
}

void PrintJobJson(const JobOutput& output, const JobEnd& end, const std::string& status,
                  const Json& after, uint64_t moved, const std::vector<PlannedPiece>* plan) {
  Json json;
  json["outcome"] = end.outcome;
  json["status"] = ReadableText(status);
  json["before"] = output.before;
  json["after"] = after;
  if (output.fragment) json["requested"] = output.requested;
  // Pieces of the file moved to their new place and on the disk: each is
  // one fragment of the result, for either job.
  json["moved"] = moved;
  // Pieces the plan found room for: fewer than requested when it refused.
  if (output.fragment) json["planned"] = output.planned;
  if (output.fragment) json["seed"] = output.seed;
  json["dry_run"] = output.dry_run;
  json["plan"] = nullptr;
  if (plan) {
    json["plan"] = Json::array();
    uint64_t number = 0;
    for (const PlannedPiece& piece : *plan)
      json["plan"].push_back({{"number", ++number},
                              {"clusters", static_cast<uint64_t>(piece.clusters)},
                              {"lcn", static_cast<uint64_t>(piece.lcn)}});
  }
  const bool failed = !end.error.code.empty();
  if (failed && !end.told) PrintErrorLine(output.command, end.error);
  PrintJson(CommandJson(output.command, failed ? &end.error : nullptr, json));
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

int PrintPlan(const JobOutput& output, const TerminalDisplay& job, const std::string& status,
              const std::vector<PlannedPiece>& plan, int result) {
  if (output.json) {
    JobEnd end = JobEndOf(output, job, result, 0);
    if (result != 0) end.error.message = StatusMessage(status);
    PrintJobJson(output, end, status, nullptr, 0, &plan);
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
  if (output.json)
    PrintJobJson(output, {"refused", AnalysisError(path, analysis, session)}, analysis.status(),
                 nullptr, 0);
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
  const JsonError error{"volume-in-use",
                        split.image + " is " + in_use + "; it is left untouched while something "
                        "else may write it: unmount it (or end the program holding it) and try again",
                        split.image, ""};
  JobOutput refused = output;
  refused.before = nullptr;
  if (output.json) PrintJobJson(refused, {"refused", error}, status, nullptr, 0);
  ReportError(error);
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
    JobEnd end = JobEndOf(output, job, kJobStopped, moved);
    end.error.message = status;
    PrintJobJson(output, end, status, nullptr, moved);
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
    const Json after = AnalysisJson(job, session, job.CommandEnabled(Command::kFragment),
                                    ClusterBar::kAfter);
    PrintJobJson(output, JobEndOf(output, job, result, moved), job.status(), after, moved);
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
