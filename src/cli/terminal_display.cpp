#include "cli/terminal_display.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "cli/cli_error.h"
#include "display/text_util.h"
#include "cli/arguments.h"
#include "volume/error_codes.h"

#ifdef _WIN32
#include <io.h>
#define SHARDIX_ISATTY(fd) _isatty(fd)
#define SHARDIX_FILENO(f) _fileno(f)
#else
#include <sys/ioctl.h>
#include <unistd.h>
#define SHARDIX_ISATTY(fd) isatty(fd)
#define SHARDIX_FILENO(f) fileno(f)
#endif

namespace shardix::cli {

namespace {

// The width assumed for a terminal that cannot be asked.
constexpr std::size_t kTerminalColumns = 80;
// The fragment list's LCN cell for a hole: -1 as an unsigned number.
constexpr uint64_t kHoleLcn = ~uint64_t{0};

}  // namespace

bool IsTerminal(FILE* stream) { return SHARDIX_ISATTY(SHARDIX_FILENO(stream)) != 0; }

bool ParseColourMode(const std::string& text, ColourMode* mode) {
  if (text == "auto") *mode = ColourMode::kAuto;
  else if (text == "always") *mode = ColourMode::kAlways;
  else if (text == "never") *mode = ColourMode::kNever;
  else return false;
  return true;
}

namespace {

bool DumbTerminal() {
  const char* term = std::getenv("TERM");
  return term && std::strcmp(term, "dumb") == 0;
}

}  // namespace

bool UseColour(FILE* stream, ColourMode mode) {
  if (mode != ColourMode::kAuto) return mode == ColourMode::kAlways;
  const char* no_colour = std::getenv("NO_COLOR");
  if (no_colour && *no_colour) return false;
  return !DumbTerminal() && IsTerminal(stream);
}

FILE* ProgressStream() { return IsTerminal(stderr) && !DumbTerminal() ? stderr : nullptr; }

std::size_t TerminalColumns(FILE* stream) {
#ifndef _WIN32
  struct winsize size{};
  if (ioctl(SHARDIX_FILENO(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#else
  (void)stream;
#endif
  if (const char* columns = std::getenv("COLUMNS")) {
    long value = std::strtol(columns, nullptr, 10);
    if (value > 0 && value < 10000) return static_cast<std::size_t>(value);
  }
  return kTerminalColumns;
}

TerminalDisplay::TerminalDisplay(FILE* live) : live_(live) {
  bars_[ClusterBar::kBefore] = std::string(kBarWidth, ' ');
  bars_[ClusterBar::kAfter] = std::string(kBarWidth, ' ');
}

void TerminalDisplay::SetStatusText(const std::string& text) {
  if (text == status_) return;
  status_ = text;
  Redraw();
}

void TerminalDisplay::SetProgressRange(uint32_t maximum) {
  progress_max_ = maximum;
  progress_position_ = 0;
  progress_drawn_ = -1;
}

void TerminalDisplay::SetProgress(uint64_t position) {
  progress_position_ = position;
  if (!live_ || progress_max_ == 0) return;
  const uint64_t low = static_cast<uint32_t>(position);  // the bar takes the low 32 bits
  const int percent = static_cast<int>(std::min<uint64_t>(low * 100 / progress_max_, 100));
  if (percent == progress_drawn_) return;
  Redraw();
}

// Two lines, status above bar, redrawn over themselves, each cut to the
// terminal's width: a line that wrapped would make the redraw climb too few
// lines and scroll. Windows consoles need not know cursor movement, so
// there both share one line.
void TerminalDisplay::Redraw() {
  if (!live_) return;
  const std::size_t columns = std::max<std::size_t>(TerminalColumns(live_), 12);
  const int width = static_cast<int>(std::min<std::size_t>(40, columns - 8));
  const uint64_t low = static_cast<uint32_t>(progress_position_);
  const int percent =
      progress_max_ == 0 ? 0 : static_cast<int>(std::min<uint64_t>(low * 100 / progress_max_, 100));
  const int filled = percent * width / 100;
  progress_drawn_ = progress_max_ == 0 ? -1 : percent;
  std::string bar;  // none before a job sets its range (a refusal shows alone)
  if (progress_max_ != 0) {
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    bar = "[" + std::string(filled, '#') + std::string(width - filled, ' ') + "] " + number;
  }
  std::string status = status_.substr(0, columns - 1);
#ifdef _WIN32
  std::string line = bar + " " + status;
  line = line.substr(0, columns - 1);
  line.resize(columns - 1, ' ');
  std::fprintf(live_, "\r%s", line.c_str());
#else
  std::fprintf(live_, "%s\x1b[2K%s\n\x1b[2K%s", drawn_ ? "\r\x1b[1A" : "", status.c_str(),
               bar.c_str());
#endif
  std::fflush(live_);
  drawn_ = true;
}

void TerminalDisplay::FinishProgress() {
  if (live_ && drawn_) {
    std::fputc('\n', live_);
    std::fflush(live_);
    drawn_ = false;
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
  box_code_ = code;
  box_shown_ = true;
  // The window's caption names the call that failed; the line leads with
  // the path and the system's words.
  const SystemError error = SystemErrorFor(code);
  std::string text = error.message();
  while (!text.empty() && text.back() == '.') text.pop_back();
  text += " (" + caption + ")";
  ReportError({ErrorName(error), subject_.empty() ? text : subject_ + ": " + text, subject_, ""});
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

std::string BinaryUnits(const std::string& size) {
  static constexpr const char* kUnits[][2] = {{" KB", " KiB"}, {" MB", " MiB"}, {" GB", " GiB"}};
  for (const auto& unit : kUnits) {
    const std::size_t at = size.find(unit[0]);
    const std::size_t end = at + std::char_traits<char>::length(unit[0]);
    if (at != std::string::npos && (end == size.size() || size[end] == ' '))
      return size.substr(0, at) + unit[1] + size.substr(end);
  }
  return size;
}

void PrintAnalysis(FILE* out, const TerminalDisplay& display, ClusterBar bar, bool colour,
                   bool with_status) {
  bool before = bar == ClusterBar::kBefore;
  if (display.Text(TextField::kFileName).empty() && display.rows().empty()) {
    // Refused before the file could be read: only the status line says anything.
    std::fprintf(out, "%s\n", display.status().c_str());
    return;
  }
  std::fprintf(out, "Filename:      %s\n", display.Text(TextField::kFileName).c_str());
  std::fprintf(out, "File Size:     %s\n", BinaryUnits(display.Text(TextField::kFileSize)).c_str());
  std::fprintf(out, "%% Fragmented:  %s\n",
               display.Text(before ? TextField::kPercentBefore : TextField::kPercentAfter).c_str());
  std::fprintf(out, "Max:           %s\n", display.Text(TextField::kMaxValue).c_str());
  if (!display.rows().empty()) {
    std::fprintf(out, "\n%12s %12s %24s\n", "Fragment #", "Clusters", "Fragment Location (LCN)");
    for (const FragmentRow& row : display.rows()) {
      if (row.lcn == kHoleLcn)
        std::fprintf(out, "%12" PRIu64 " %12" PRIu64 " %24s\n", row.number, row.clusters, "(hole)");
      else
        std::fprintf(out, "%12" PRIu64 " %12" PRIu64 " %24" PRIu64 "\n", row.number, row.clusters,
                     row.lcn);
    }
  }
  std::fprintf(out, "\n%s\n", before ? "Before Fragmentation" : "After Fragmentation");
  const std::string& cells = display.BarCells(bar);
  std::string line;
  for (char cell : cells) {
    const char mark = cell == ' ' ? '.' : '#';
    if (!colour) line += mark;
    else line += std::string(cell == ' ' ? "\x1b[30;47m" : cell == 'b' ? "\x1b[97;44m" : "\x1b[97;41m") + mark + "\x1b[0m";
  }
  std::fprintf(out, "|%s|\n", line.c_str());
  std::fprintf(out, "(# this file's clusters, . the rest of the volume)\n");
  if (with_status && !display.status().empty() && !display.echoes_status()) {
    bool red = colour && display.StatusIsError();
    std::fprintf(out, "\n%s%s%s\n", red ? "\x1b[31m" : "", display.status().c_str(),
                 red ? "\x1b[0m" : "");
  }
}

Json AnalysisJson(const TerminalDisplay& display, const FileSession& session, bool can_fragment,
                  ClusterBar side) {
  const ScanResults& r = session.results;
  // Figures the scan did not reach are null, as the window leaves them blank.
  auto value = [](uint64_t v) { return v == kNoValue ? Json(nullptr) : Json(v); };
  Json json;
  const std::string name = display.Text(TextField::kFileName);
  if (name.empty()) json["name"] = nullptr;
  else PutText(json, "name", name);
  json["file_size"] = value(r.file_size);
  json["cluster_count"] = value(r.cluster_count);
  json["fragment_count"] = value(r.fragment_count);
  json["lcn_span"] = value(r.lcn_span);
  json["volume_clusters"] = value(r.volume_cluster_count);
  // "7.44%" on the window is 7.44 here.
  const std::string percent = display.Text(side == ClusterBar::kBefore ? TextField::kPercentBefore
                                                                       : TextField::kPercentAfter);
  char* end = nullptr;
  const double number = percent.empty() ? 0 : std::strtod(percent.c_str(), &end);
  json["percent_fragmented"] = end && end != percent.c_str() ? Json(number) : Json(nullptr);
  unsigned long long max = 0;
  const std::string max_text = display.Text(TextField::kMaxValue);
  json["max"] = !max_text.empty() && ParseUnsigned(max_text, &max) ? Json(max) : Json(nullptr);
  json["fragments"] = Json::array();
  for (const FragmentRow& row : display.rows()) {
    // A hole has no place on the volume (all bits set in the list).
    json["fragments"].push_back({{"number", row.number},
                                 {"clusters", row.clusters},
                                 {"lcn", row.lcn == kHoleLcn ? Json(nullptr) : Json(row.lcn)}});
  }
  json["status"] = ReadableText(display.status());
  json["can_fragment"] = can_fragment;
  json["can_defragment"] = can_fragment && display.CommandEnabled(Command::kDefragment);
  return json;
}

std::string StatusMessage(const std::string& status) {
  return status.rfind("Error: ", 0) == 0 ? status.substr(7) : status;
}

}  // namespace shardix::cli
