// What the engine shows, and the one interface it shows it through. The
// window implements it with its controls (on the window thread), the command
// line with terminal output, and the tests with a recorder, so every routine
// runs unchanged in all three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "display/text_util.h"  // kTextBufferSize, FormatStatusError

namespace shardix {

// The text fields of the result display.
enum class TextField {
  kFileName,       // the file name value
  kFileSize,       // the file size value
  kPercentBefore,  // "% Fragmented" before a job
  kPercentAfter,   // "% Fragmented" after a job
  kMaxValue,       // the "Max:" value
};

// The two cluster bars: the width stands for the whole volume.
enum class ClusterBar { kBefore, kAfter };
enum class BarColour { kWhite, kBlue, kRed };

// The commands whose enabled state the engine decides besides the settings.
enum class Command { kFragment, kDefragment, kVolumeInfo, kAnalyzeFile, kBrowse, kFileName };

enum class BoxIcon { kNone, kError, kWarning, kInformation };
enum class BoxOwner { kNone, kMainWindow, kDialog };

// One fragment-list row as displayed: cells are unsigned 64-bit numbers.
struct FragmentRow {
  uint64_t number;
  uint64_t clusters;
  uint64_t lcn;
};

class Display {
 public:
  virtual ~Display() = default;

  // The status line. SetStatusError shows "Error: " before the text.
  virtual void SetStatusText(const std::string& text) = 0;
  void SetStatusError(const std::string& text);
  // The progress bar: its range is set by the jobs, its position takes the
  // low 32 bits.
  virtual void SetProgressRange(uint32_t maximum) = 0;
  virtual void SetProgress(uint64_t position) = 0;

  virtual void SetText(TextField field, const std::string& text) = 0;

  // The fragment list, in its displayed order.
  virtual void ClearFragmentList() = 0;
  virtual void AddFragmentRow(const FragmentRow& row) = 0;
  virtual std::size_t FragmentRowCount() = 0;
  virtual FragmentRow GetFragmentRow(std::size_t index) = 0;
  virtual void FitFragmentListColumns() {}

  // Cluster bars: the client width in pixels, and filling a span of it over
  // the bar's full height.
  virtual int BarWidth(ClusterBar bar) = 0;
  virtual void FillBar(ClusterBar bar, int left, int right, BarColour colour) = 0;

  // The settings group (with Fragment, Defragment and Volume Info), single
  // commands, and the fragment count's range.
  virtual void EnableSettings(bool enable) = 0;
  virtual void EnableCommand(Command command, bool enable) = 0;
  virtual void SetFragmentCountRange(int32_t minimum, int32_t maximum, int32_t position) = 0;

  // A message box for a failing call: the system's message for `code` as
  // text, under `caption`.
  virtual void ShowErrorBox(const std::string& caption, uint32_t code, BoxOwner owner,
                            BoxIcon icon) = 0;

  // Around each cluster move, so a waiting indicator can run meanwhile.
  virtual void MoveBegins() {}
  virtual void MoveEnds() {}

  // The Volume Info lists.
  virtual void AddAllocationRow(uint64_t first_lcn, uint64_t length, bool in_use) {
    (void)first_lcn, (void)length, (void)in_use;
  }
  virtual void AddSummaryRow(const std::string& label, const std::string& value) {
    (void)label, (void)value;
  }
};

}  // namespace shardix
