// shardix check IMAGE [--json]: the image's cluster usage rebuilt from
// every file's runlists, against its bitmap.
#include <cstdio>
#include <iostream>

#include "cli/cli_error.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/usage.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/consistency_check.h"
#include "volume/ntfsimage/ntfs_image.h"

namespace shardix::cli {

namespace {

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(ReadableText(text)); }

// One problem, in the one shape every kind shares.
Json Problem(const char* kind, Json lcn = nullptr, Json clusters = nullptr,
             std::vector<uint64_t> records = {}, const std::string& detail = "") {
  return {{"kind", kind},        {"lcn", std::move(lcn)},  {"clusters", std::move(clusters)},
          {"records", records},  {"detail", TextOrNull(detail)}};
}

Json ReportJson(const ConsistencyReport& report) {
  Json json;
  json["clean"] = report.clean();
  json["cluster_size"] = report.cluster_size;
  json["total_clusters"] = report.total_clusters;
  json["records_checked"] = report.records_checked;
  json["free_clusters"] = {{"bitmap", report.free_by_bitmap()},
                           {"files", report.free_by_owners()},
                           {"library", report.free_by_library}};
  json["cross_linked_clusters"] = report.cross_linked_clusters;
  json["leaked_clusters"] = report.leaked_clusters;
  json["unmarked_clusters"] = report.unmarked_clusters;
  json["journal"] = TextOrNull(report.journal);
  json["in_use"] = TextOrNull(report.in_use);
  Json problems = Json::array();
  for (const ClusterSpan& span : report.cross_linked)
    problems.push_back(Problem("cross-linked", span.lcn, span.length, span.owners));
  for (const ClusterSpan& span : report.leaked)
    problems.push_back(Problem("leaked", span.lcn, span.length));
  for (const ClusterSpan& span : report.unmarked)
    problems.push_back(Problem("unmarked", span.lcn, span.length));
  for (const BrokenChain& chain : report.broken_chains) {
    Json problem = Problem("broken-chain", nullptr, nullptr, {chain.mft_record}, chain.problem);
    problem["attribute_type"] = chain.attribute_type;
    PutText(problem, "attribute_name", chain.attribute_name);
    problems.push_back(problem);
  }
  for (const std::string& text : report.unreadable) problems.push_back(Problem("unreadable", nullptr, nullptr, {}, text));
  for (const std::string& text : report.unreadable_files)
    problems.push_back(Problem("unreadable-file", nullptr, nullptr, {}, text));
  if (!report.boot_sectors.empty())
    problems.push_back(Problem("boot-sectors", nullptr, nullptr, {}, report.boot_sectors));
  for (uint64_t record : report.empty_extension_records)
    problems.push_back(Problem("empty-extension-record", nullptr, nullptr, {record}));
  if (report.interrupted) problems.push_back(Problem("interrupted"));
  if (!report.free_count_agrees()) problems.push_back(Problem("free-count"));
  json["problems"] = problems;
  json["unlisted_problems"] = report.unlisted_problems;
  return json;
}

}  // namespace

int RunCheck(const std::vector<std::string>& words) {
  const Arguments args = ParseArguments(words, {"--json"}, {});
  if (!args.error.empty()) return UsageError("check", args.error);
  if (args.positional.size() != 1) return UsageError("check", "name one image");
  const std::string& image = args.positional[0];
  const bool json = args.Has("--json");
  ConsistencyReport report;
  ForgetSystemError();
  uint32_t code = CheckImageConsistency(image, &report);
  if (code != kErrorSuccess) {
    CliError error = ErrorAt("cannot check", image, SystemErrorFor(code));
    // What the image says that cannot be so, when that is what stopped it.
    if (code == kErrorDiskCorrupt && !ImageLibraryDetail().empty())
      error.message += " (" + ImageLibraryDetail() + ")";
    ReportError(error);
    if (json) {
      Json fields;
      PutText(fields, "image", image);
      fields["report"] = nullptr;
      PrintJson(CommandJson("check", &error, fields));
    }
    return kExitFailure;
  }
  if (json) {
    Json fields;
    PutText(fields, "image", image);
    fields["report"] = ReportJson(report);
    const JsonError error{"not-clean", "the volume has problems", image, ""};
    if (!report.clean()) ReportError(error);
    PrintJson(CommandJson("check", report.clean() ? nullptr : &error, fields));
  } else {
    WriteConsistencyReport(report, std::cout);
    std::cout.flush();
  }
  return report.clean() ? kExitSuccess : kExitFailure;
}

}  // namespace shardix::cli
