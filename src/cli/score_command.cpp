// shardix score MANIFEST FOLDER [--json]
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "scenario/manifest.h"
#include "cli/terminal_display.h"
#include "cli/usage.h"
#include "scenario/score.h"
#include "volume/unicode_text.h"

namespace shardix::cli {

namespace {

using scenario::ScoreResult;
using scenario::VerdictCounts;

Json CountsJson(const VerdictCounts& counts) {
  return {{"files", counts.files}, {"whole", counts.whole}, {"partial", counts.partial}, {"missed", counts.missed}};
}

Json ScoreJson(const ScoreResult& result, const std::string& manifest, const std::string& folder) {
  Json json;
  PutText(json, "manifest", manifest);
  PutText(json, "image", result.image);
  PutText(json, "folder", folder);
  json["cluster_size"] = result.cluster_size;
  json["files"] = Json::array();
  for (const scenario::ScoredFile& file : result.files) {
    Json entry;
    PutText(entry, "path", file.path);
    entry["layout"] = file.layout;
    entry["state"] = file.state;
    entry["size"] = file.size;
    entry["verdict"] = file.verdict;
    entry["fraction"] = file.fraction;
    entry["recovered_as"] = Json::array();
    bool exact = true;
    for (const std::string& name : file.recovered_as) {
      entry["recovered_as"].push_back(scenario::ManifestName(name));
      exact = exact && entry["recovered_as"].back().get<std::string>() == name;
    }
    if (!exact) {
      entry["recovered_as_hex"] = Json::array();
      for (const std::string& name : file.recovered_as) entry["recovered_as_hex"].push_back(HexBytes(name));
    }
    json["files"].push_back(entry);
  }
  json["recovered"] = Json::array();
  for (const scenario::RecoveredFile& recovered : result.recovered) {
    Json entry;
    PutText(entry, "path", recovered.path);
    entry["size"] = recovered.size;
    entry["verdict"] = recovered.verdict;
    if (recovered.match.empty()) entry["match"] = nullptr;
    else PutText(entry, "match", recovered.match);
    entry["fraction"] = recovered.fraction;
    json["recovered"].push_back(entry);
  }
  Json summary = CountsJson(result.total);
  summary["false_positives"] = result.false_positives;
  summary["recovered"] = result.recovered.size();
  summary["empty_recovered_ignored"] = result.empty_recovered;
  summary["manifest_not_graded"] = result.manifest_not_graded;
  summary["by_layout"] = Json::object();
  for (const auto& [layout, counts] : result.by_layout) summary["by_layout"][layout] = CountsJson(counts);
  summary["by_state"] = Json::object();
  for (const auto& [state, counts] : result.by_state) summary["by_state"][state] = CountsJson(counts);
  json["summary"] = summary;
  return json;
}

std::string Percent(double fraction) {
  char text[16];
  std::snprintf(text, sizeof text, "%.0f%%", fraction * 100);
  return text;
}

std::string CountsText(const VerdictCounts& counts) {
  return std::to_string(counts.whole) + " whole, " + std::to_string(counts.partial) + " partial, " +
         std::to_string(counts.missed) + " missed";
}

void PrintTable(const ScoreResult& result) {
  std::vector<std::vector<std::string>> rows = {{"FILE", "LAYOUT", "STATE", "VERDICT", "FOUND", "RECOVERED AS"}};
  for (const scenario::ScoredFile& file : result.files) {
    std::string as;
    for (const std::string& name : file.recovered_as) as += (as.empty() ? "" : ", ") + scenario::ManifestName(name);
    rows.push_back({scenario::ManifestName(file.path), file.layout, file.state, file.verdict, Percent(file.fraction),
                    as.empty() ? "-" : as});
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? row[c] + std::string(widths[c] - row[c].size() + 2, ' ') : row[c];
    std::printf("%s\n", line.c_str());
  }
  if (result.false_positives) {
    std::printf("\nMatching no file of the image (false positives):\n");
    for (const scenario::RecoveredFile& recovered : result.recovered)
      if (recovered.verdict == "none") std::printf("  %s\n", scenario::ManifestName(recovered.path).c_str());
  }
  std::printf("\nSummary: %llu files: %s; false positives: %llu of %zu recovered files\n",
              static_cast<unsigned long long>(result.total.files), CountsText(result.total).c_str(),
              static_cast<unsigned long long>(result.false_positives), result.recovered.size());
  std::printf("By layout:\n");
  for (const auto& [layout, counts] : result.by_layout)
    std::printf("  %-15s %s\n", layout.c_str(), CountsText(counts).c_str());
  std::printf("By state:\n");
  for (const auto& [state, counts] : result.by_state)
    std::printf("  %-15s %s\n", state.c_str(), CountsText(counts).c_str());
  if (result.empty_recovered)
    std::printf("Ignored: %llu empty recovered files\n", static_cast<unsigned long long>(result.empty_recovered));
  if (result.manifest_not_graded)
    std::printf("Not graded: %llu empty files and named streams of the image\n",
                static_cast<unsigned long long>(result.manifest_not_graded));
}

}  // namespace

int RunScore(const std::vector<std::string>& words) {
  const Arguments args = ParseArguments(words, {"--json"}, {});
  if (!args.error.empty()) return UsageError("score", args.error);
  if (args.positional.size() != 2) return UsageError("score", "name a manifest and a folder");
  const std::string& manifest = args.positional[0];
  const std::string& folder = args.positional[1];
  FILE* progress_stream = ProgressStream();
  const auto progress = [&](uint64_t done, uint64_t total) {
    if (!progress_stream) return;
    std::fprintf(progress_stream, "\rscoring: %3llu%%", static_cast<unsigned long long>(total ? done * 100 / total : 100));
    if (done == total) std::fputs("\r\033[K", progress_stream);
    std::fflush(progress_stream);
  };
  ScoreResult result;
  std::string error;
  if (!scenario::ScoreRecovery(manifest, folder, progress, &result, &error)) {
    if (progress_stream) std::fputs("\r\033[K", progress_stream);
    const JsonError failure{"score-failed", error, "", ""};
    ReportError(failure);
    if (args.Has("--json")) PrintJson(CommandJson("score", &failure, Json::object()));
    return kExitFailure;
  }
  if (args.Has("--json")) {
    PrintJson(CommandJson("score", nullptr, ScoreJson(result, manifest, folder)));
  } else {
    PrintTable(result);
  }
  return kExitSuccess;
}

}  // namespace shardix::cli
