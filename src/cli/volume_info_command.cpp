// shardix volume-info PATH [--sort COLUMN[:asc|:desc]]... [--save REPORT] [--json]
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>
#ifdef _WIN32
#include <filesystem>
#else
#include <sys/stat.h>
#endif

#include "cli/arguments.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/terminal_display.h"
#include "cli/usage.h"
#include "report/disk_report.h"
#include "report/volume_analysis.h"
#include "volume/error_codes.h"
#include "volume/image_path.h"
#include "volume/system_error.h"
#include "volume/unicode_text.h"

namespace shardix::cli {

namespace {

int UsageError(const std::string& problem) { return cli::UsageError("volume-info", problem); }

// The Volume Info dialog's lists, kept for printing and saving.
class VolumeInfoDisplay : public TerminalDisplay {
 public:
  VolumeInfoDisplay() : TerminalDisplay(nullptr) {}
  // While saving, the one error box is the save's, said with the report's
  // path once the report is printed.
  void ShowErrorBox(const std::string& caption, uint32_t code, BoxOwner owner,
                    BoxIcon icon) override {
    if (saving) save_error = SystemErrorFor(code);
    else TerminalDisplay::ShowErrorBox(caption, code, owner, icon);
  }
  void AddAllocationRow(uint64_t first_lcn, uint64_t length, bool in_use) override {
    lists.allocation.push_back({first_lcn, length, in_use});
  }
  void AddSummaryRow(const std::string& label, const std::string& value) override {
    lists.summary.push_back({label, value});
  }
  StoredReportLists lists;
  bool saving = false;
  SystemError save_error;
};

struct SortClick {
  int column;
  int direction;  // 0: one click; 1 ascending; -1 descending
};

bool ParseSort(const std::string& text, SortClick* click) {
  std::string name = text;
  click->direction = 0;
  if (std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    std::string order = text.substr(colon + 1);
    name = text.substr(0, colon);
    if (order == "asc") click->direction = 1;
    else if (order == "desc") click->direction = -1;
    else return false;
  }
  if (name == "lcn" || name == "0") click->column = 0;
  else if (name == "clusters" || name == "1") click->column = 1;
  else if (name == "state" || name == "2") click->column = 2;
  else return false;
  return true;
}

// The lists as data: the summary's figures by name, and each run.
Json ListsJson(const std::string& title, const StoredReportLists& lists, uint32_t cluster_size) {
  static const struct {
    const char* label;
    const char* key;
  } kFigures[] = {{"Total Disk Clusters:", "total_clusters"},
                  {"Total Occupied Clusters:", "used_clusters"},
                  {"Total Free Clusters:", "free_clusters"},
                  {"Largest Consecutive Free Block:", "largest_free_run"},
                  {"Largest Consecutive Occupied Block:", "largest_used_run"}};
  Json json;
  PutText(json, "title", title);
  Json volume;
  volume["cluster_size"] = cluster_size;
  for (const auto& figure : kFigures) {
    unsigned long long value = 0;
    for (const SummaryRowText& row : lists.summary)
      if (row.label == figure.label && ParseUnsigned(row.value, &value)) volume[figure.key] = value;
  }
  // Figures the analysis did not reach (it failed): no volume object.
  json["volume"] = volume.size() == 1 + std::size(kFigures) ? volume : Json(nullptr);
  json["runs"] = Json::array();
  for (const AllocationRow& row : lists.allocation)
    json["runs"].push_back({{"first", row.first_lcn},
                            {"last", row.first_lcn + row.length - 1},
                            {"clusters", row.length},
                            {"in_use", row.in_use}});
  return json;
}

void PrintFailure(const JsonError& error) {
  Json fields;
  fields["title"] = nullptr;
  fields["volume"] = nullptr;
  fields["runs"] = Json::array();
  fields["report"] = nullptr;
  PrintJson(CommandJson("volume-info", &error, fields));
}

// The report as text on the terminal: the title, then the report's lines.
void PrintLists(const std::string& title, const StoredReportLists& lists) {
  std::printf("%s\n\n", title.c_str());
  std::string report = DiskReportText(lists);
  for (std::size_t start = 0; start < report.size();) {
    std::size_t end = report.find("\r\n", start);
    if (end == std::string::npos) end = report.size();
    std::fwrite(report.data() + start, 1, end - start, stdout);
    std::fputc('\n', stdout);
    start = end + 2;
  }
}

// Whether `report` names the file or device that `volume_path` reports on,
// by identity rather than by name (links, "..", another device node).
bool IsReportedImage(const std::string& report, const std::string& volume_path) {
  ImagePath split;
  if (!SplitImagePath(volume_path, &split)) return false;
#ifdef _WIN32
  std::error_code error;
  // From UTF-8: the library's narrow conversion would compare other names.
  return std::filesystem::equivalent(PathFromUtf8(report), PathFromUtf8(split.image), error);
#else
  struct stat a {}, b{};
  if (stat(report.c_str(), &a) != 0 || stat(split.image.c_str(), &b) != 0) return false;
  if (S_ISBLK(a.st_mode) && S_ISBLK(b.st_mode) && a.st_rdev == b.st_rdev) return true;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
#endif
}

int Run(const Arguments& args) {
  std::vector<SortClick> clicks;
  if (auto found = args.values.find("--sort"); found != args.values.end())
    for (const std::string& text : found->second) {
      SortClick click;
      if (!ParseSort(text, &click))
        return UsageError("--sort takes lcn, clusters or state, with :asc or :desc");
      clicks.push_back(click);
    }
  const bool json = args.Has("--json");
  const std::string& path = args.positional[0];
  const std::string* report = args.Last("--save");
  if (report && IsReportedImage(*report, path)) {
    const CliError error{"report-is-the-volume",
                         "It is the image or device being reported on; name another file for "
                         "the report",
                         *report, "cannot save"};
    ReportError(error);
    if (json) PrintFailure(error);
    return kExitFailure;
  }

  WarnIfImageInUse(path);
  std::unique_ptr<Volume> volume;
  if (uint32_t code = OpenVolumeByPath(path, &volume); code != kErrorSuccess) {
    const CliError error = ErrorAt("cannot open", path, SystemErrorFor(code));
    ReportError(error);
    if (json) PrintFailure(error);
    return kExitFailure;
  }
  const std::string title = VolumeReportTitle(*volume);

  // As the dialog opens: one analysis into empty lists; after a failure
  // (its box already shown) the lists stay empty.
  VolumeInfoDisplay display;
  display.SetSubject(path);
  const bool analysed =
      AnalyzeVolume(volume.get(), display, VolumeAnalysisMode::kFillLists) == 0;
  AllocationSortState& state = ProcessAllocationSortState();
  for (const SortClick& click : clicks) {
    display.lists.SortAllocation(state, click.column);
    bool ascending = state.ascending;
    if ((click.direction > 0 && !ascending) || (click.direction < 0 && ascending))
      display.lists.SortAllocation(state, click.column);
  }

  bool saved = true;
  if (report) {
    display.saving = true;
    saved = SaveDiskReport(display, display.lists, *report) == 0;
    display.saving = false;
  }

  // The report is printed even when it could not be saved: nothing is lost.
  CliError error;
  if (!analysed) {
    // The failure is on stderr already, from its error box.
    const uint32_t code = display.box_code();
    error = code ? ErrorAt("cannot report on", path, SystemErrorFor(code))
                 : CliError{"failed", "the volume could not be read", path, ""};
  } else if (!saved) {
    error = ErrorAt("cannot save", *report, display.save_error);
  }
  if (json) {
    uint32_t sectors_per_cluster = 0, bytes_per_sector = 0;
    volume->GetClusterSize(&sectors_per_cluster, &bytes_per_sector);
    Json fields = ListsJson(title, display.lists, sectors_per_cluster * bytes_per_sector);
    fields["report"] = nullptr;
    if (report && saved) PutText(fields, "report", *report);
    PrintJson(CommandJson("volume-info", analysed && saved ? nullptr : &error, fields));
  } else {
    PrintLists(title, display.lists);
  }
  if (analysed && !saved) ReportError(error);
  return analysed && saved ? kExitSuccess : kExitFailure;
}

}  // namespace

int RunVolumeInfo(const std::vector<std::string>& words) {
  Arguments args = ParseArguments(words, {"--json"}, {"--sort", "--save"});
  if (!args.error.empty()) return UsageError(args.error);
  if (args.positional.size() != 1) return UsageError("name one file or volume");
  if (args.values.count("--save") && args.values.at("--save").size() > 1)
    return UsageError("--save names one report");
  try {
    return Run(args);
  } catch (const std::bad_alloc&) {
    // A volume of more runs than memory can list.
    const CliError error =
        ErrorAt("cannot report on", args.positional[0], SystemErrorFor(kErrorNotEnoughMemory));
    ReportError(error);
    if (args.Has("--json")) PrintFailure(error);
    return kExitFailure;
  }
}

}  // namespace shardix::cli
