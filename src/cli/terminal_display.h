// The command line's display: it keeps what the window would show, so the
// result can be printed as text or JSON, and during jobs on a terminal it
// keeps one status line and one progress bar redrawn in place.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "analysis/analyze_file.h"
#include "cli/json_output.h"
#include "display/display.h"

namespace shardix::cli {

// Whether a stream is a terminal.
bool IsTerminal(FILE* stream);

class TerminalDisplay : public Display {
 public:
  static constexpr int kBarWidth = 64;

  // `live`: a terminal on which the status line and the progress bar are
  // redrawn in place as the job goes (null for none: the status is then
  // only kept, for printing with the result).
  explicit TerminalDisplay(FILE* live);

  void SetStatusText(const std::string& text) override;
  void SetProgressRange(uint32_t maximum) override;
  void SetProgress(uint64_t position) override;
  void SetText(TextField field, const std::string& text) override;
  void ClearFragmentList() override { rows_.clear(); }
  void AddFragmentRow(const FragmentRow& row) override { rows_.push_back(row); }
  std::size_t FragmentRowCount() override { return rows_.size(); }
  FragmentRow GetFragmentRow(std::size_t index) override { return rows_.at(index); }
  int BarWidth(ClusterBar) override { return kBarWidth; }
  void FillBar(ClusterBar bar, int left, int right, BarColour colour) override;
  void EnableSettings(bool enable) override;
  void EnableCommand(Command command, bool enable) override { commands_[command] = enable; }
  void SetFragmentCountRange(int32_t, int32_t, int32_t) override {}
  void ShowErrorBox(const std::string& caption, uint32_t code, BoxOwner owner,
                    BoxIcon icon) override;
  void AddAllocationRow(uint64_t first_lcn, uint64_t length, bool in_use) override;
  void AddSummaryRow(const std::string& label, const std::string& value) override;

  // Leaves the status line and the bar as last drawn and moves below them.
  void FinishProgress();

  // The path an error box is about, named in its line on stderr.
  void SetSubject(const std::string& path) { subject_ = path; }
  // An error box was shown (on stderr): it said why, and a later error
  // status need not say it again.
  bool box_shown() const { return box_shown_; }

  const std::string& status() const { return status_; }
  // Where the job's progress stands: fragments (Fragment) or clusters
  // (Defragment) of progress_maximum().
  uint64_t progress_position() const { return progress_position_; }
  uint32_t progress_maximum() const { return progress_max_; }
  // The status line was seen as it came, on the terminal that stdout
  // also shows: the result need not repeat it.
  bool echoes_status() const { return live_ != nullptr && IsTerminal(stdout); }
  bool StatusIsError() const;
  std::string Text(TextField field) const;
  const std::vector<FragmentRow>& rows() const { return rows_; }
  bool CommandEnabled(Command command) const;
  const std::string& BarCells(ClusterBar bar) const;
  // The code of the last error box shown (0 when none was).
  uint32_t box_code() const { return box_code_; }

 private:
  void Redraw();

  FILE* live_;
  std::string subject_;
  bool box_shown_ = false;
  bool drawn_ = false;  // the live lines are on screen, the cursor after the bar
  uint32_t progress_max_ = 0;
  uint64_t progress_position_ = 0;
  int progress_drawn_ = -1;
  std::string status_;
  std::map<TextField, std::string> texts_;
  std::vector<FragmentRow> rows_;
  std::map<Command, bool> commands_;
  std::map<ClusterBar, std::string> bars_;
  uint32_t box_code_ = 0;
};

// The analysis as the window shows it, as text on `out`: the bar in
// characters ('#' the file, '.' the rest, with a legend), coloured as the
// window's when `colour`. The status line is left out when it was printed
// as it came, or when `with_status` is false (it went to the error stream).
void PrintAnalysis(FILE* out, const TerminalDisplay& display, ClusterBar bar, bool colour,
                   bool with_status = true);
// A size line of the display's ("6.0 MB (1536 Clusters) ...", counted in
// 1024s) in the binary units it is counted in ("6.0 MiB (1536 ...").
std::string BinaryUnits(const std::string& size);
// The analysis object of --json.
// `side` picks the "% Fragmented" value: before or after a job.
Json AnalysisJson(const TerminalDisplay& display, const FileSession& session, bool can_fragment,
                  ClusterBar side = ClusterBar::kBefore);

// A status line as an error message: without its "Error: ".
std::string StatusMessage(const std::string& status);

// --color=auto|always|never. Auto colours a terminal unless NO_COLOR is set
// (to anything but "") or TERM is "dumb".
enum class ColourMode { kAuto, kAlways, kNever };
bool ParseColourMode(const std::string& text, ColourMode* mode);
bool UseColour(FILE* stream, ColourMode mode);

// Where a job's status line and progress bar are redrawn as it goes: the
// error stream when it is a terminal that can move its cursor, else none.
FILE* ProgressStream();

// The terminal's width in columns (COLUMNS, else 80 where it cannot be asked).
std::size_t TerminalColumns(FILE* stream);

}  // namespace shardix::cli
