#include "cli/terminal_display.h"

#include <cinttypes>

#include "display/text_util.h"
#include "cli/json_writer.h"
#include "volume/error_codes.h"

#ifdef _WIN32
#include <io.h>
#define SHARDIX_ISATTY(fd) _isatty(fd)
#define SHARDIX_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define SHARDIX_ISATTY(fd) isatty(fd)
#define SHARDIX_FILENO(f) fileno(f)
#endif

namespace shardix::cli {

bool IsTerminal(FILE* stream) { return SHARDIX_ISATTY(SHARDIX_FILENO(stream)) != 0; }

TerminalDisplay::TerminalDisplay(FILE* status_out, bool echo_status, FILE* progress_out)
    : status_out_(status_out), echo_status_(echo_status), progress_out_(progress_out) {
  bars_[ClusterBar::kBefore] = std::string(kBarWidth, ' ');
  bars_[ClusterBar::kAfter] = std::string(kBarWidth, ' ');
}

void TerminalDisplay::SetStatusText(const std::string& text) {
  if (text == status_) return;
  status_ = text;
  if (echo_status_ && !text.empty()) {
    FinishProgress();
    std::fprintf(status_out_, "%s\n", text.c_str());
    std::fflush(status_out_);
  }
}

void TerminalDisplay::SetProgressRange(uint32_t maximum) {
  progress_max_ = maximum;
  progress_drawn_ = -1;
}

void TerminalDisplay::SetProgress(uint64_t position) {
  if (!progress_out_ || progress_max_ == 0) return;
  uint32_t low = static_cast<uint32_t>(position);
  int width = 40;
  int filled = static_cast<int>(uint64_t{low} * width / progress_max_);
  if (filled > width) filled = width;
  int percent = static_cast<int>(uint64_t{low} * 100 / progress_max_);
  if (percent == progress_drawn_) return;
  progress_drawn_ = percent;
  std::fprintf(progress_out_, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
               std::string(width - filled, ' ').c_str(), percent > 100 ? 100 : percent);
  std::fflush(progress_out_);
}

void TerminalDisplay::FinishProgress() {
  if (progress_out_ && progress_drawn_ >= 0) {
    std::fputc('\n', progress_out_);
    progress_drawn_ = -1;
  }
}

void TerminalDisplay::SetText(TextField field, const std::string& text) { texts_[field] = text; }

void TerminalDisplay::FillBar(ClusterBar bar, int left, int right, BarColour colour) {
  char cell = colour == BarColour::kWhite ? ' ' : colour == BarColour::kBlue ? 'b' : 'r';
  std::string& cells = bars_[bar];
  for (int x = left < 0 ? 0 : left; x < right && x < kBarWidth; ++x) cells[x] = cell;
}

void TerminalDisplay::EnableSettings(bool enable) {
  for (Command c : {Command::kFragment, Command::kDefragment, Command::kVolumeInfo})
    commands_[c] = enable;
}

void TerminalDisplay::ShowErrorBox(const std::string& caption, uint32_t code, BoxOwner, BoxIcon) {
  FinishProgress();
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), ErrorMessage(code).c_str());
}

void TerminalDisplay::AddAllocationRow(uint64_t, uint64_t, bool) {}
void TerminalDisplay::AddSummaryRow(const std::string&, const std::string&) {}

bool TerminalDisplay::StatusIsError() const { return IsErrorStatus(status_.c_str()); }

std::string TerminalDisplay::Text(TextField field) const {
  auto found = texts_.find(field);
  return found == texts_.end() ? "" : found->second;
}

bool TerminalDisplay::CommandEnabled(Command command) const {
  auto found = commands_.find(command);
  return found != commands_.end() && found->second;
}

const std::string& TerminalDisplay::BarCells(ClusterBar bar) const { return bars_.at(bar); }

void PrintAnalysis(FILE* out, const TerminalDisplay& display, ClusterBar bar, bool colour) {
  bool before = bar == ClusterBar::kBefore;
  if (display.Text(TextField::kFileName).empty() && display.rows().empty()) {
    // Refused before the file could be read: only the status line says anything.
    std::fprintf(out, "%s\n", display.status().c_str());
    return;
  }
  std::fprintf(out, "Filename:      %s\n", display.Text(TextField::kFileName).c_str());
  std::fprintf(out, "File Size:     %s\n", display.Text(TextField::kFileSize).c_str());
  std::fprintf(out, "%% Fragmented:  %s\n",
               display.Text(before ? TextField::kPercentBefore : TextField::kPercentAfter).c_str());
  std::fprintf(out, "Max:           %s\n", display.Text(TextField::kMaxValue).c_str());
  if (!display.rows().empty()) {
    std::fprintf(out, "\n%12s %12s %24s\n", "Fragment #", "Clusters", "Fragment Location (LCN)");
    for (const FragmentRow& row : display.rows())
      std::fprintf(out, "%12" PRIu64 " %12" PRIu64 " %24" PRIu64 "\n", row.number, row.clusters,
                   row.lcn);
  }
  std::fprintf(out, "\n%s\n", before ? "Before Fragmentation" : "After Fragmentation");
  const std::string& cells = display.BarCells(bar);
  std::string line;
  for (char cell : cells) {
    if (colour)
      line += cell == ' ' ? "\x1b[47m \x1b[0m" : cell == 'b' ? "\x1b[44m \x1b[0m" : "\x1b[41m \x1b[0m";
    else
      line += cell == ' ' ? '.' : '#';
  }
  std::fprintf(out, "|%s|\n", line.c_str());
  if (!display.status().empty() && !display.echoes_status()) {
    bool red = colour && display.StatusIsError();
    std::fprintf(out, "\n%s%s%s\n", red ? "\x1b[31m" : "", display.status().c_str(),
                 red ? "\x1b[0m" : "");
  }
}

std::string AnalysisJson(const TerminalDisplay& display, const FileSession& session,
                         bool can_fragment, ClusterBar side) {
  const ScanResults& r = session.results;
  auto value = [](uint64_t v) -> std::optional<uint64_t> {
    return v == kNoValue ? std::nullopt : std::optional<uint64_t>(v);
  };
  JsonWriter json;
  json.BeginObject();
  json.Key("name").String(display.Text(TextField::kFileName));
  json.Key("size_text").String(display.Text(TextField::kFileSize));
  json.Key("file_size").OptionalNumber(value(r.file_size));
  json.Key("cluster_count").OptionalNumber(value(r.cluster_count));
  json.Key("fragment_count").OptionalNumber(value(r.fragment_count));
  json.Key("lcn_span").OptionalNumber(value(r.lcn_span));
  json.Key("volume_clusters").OptionalNumber(value(r.volume_cluster_count));
  std::string percent = display.Text(side == ClusterBar::kBefore ? TextField::kPercentBefore
                                                                 : TextField::kPercentAfter);
  if (percent.empty()) json.Key("percent_fragmented").Null();
  else json.Key("percent_fragmented").String(percent);
  unsigned long long max = 0;
  std::string max_text = display.Text(TextField::kMaxValue);
  if (max_text.empty() || std::sscanf(max_text.c_str(), "%llu", &max) != 1) json.Key("max").Null();
  else json.Key("max").Number(max);
  json.Key("fragments").BeginArray();
  for (const FragmentRow& row : display.rows()) {
    json.BeginObject();
    json.Key("number").Number(row.number);
    json.Key("clusters").Number(row.clusters);
    json.Key("lcn").Number(row.lcn);
    json.EndObject();
  }
  json.EndArray();
  json.Key("status").String(display.status());
  json.Key("can_fragment").Bool(can_fragment);
  json.Key("can_defragment").Bool(can_fragment && display.CommandEnabled(Command::kDefragment));
  json.EndObject();
  return json.text();
}

}  // namespace shardix::cli
