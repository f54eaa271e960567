// A display that records what the engine shows, for the tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "display/display.h"

namespace shardix::test {

struct RecordedBox {
  std::string caption;
  uint32_t code;
  BoxOwner owner;
  BoxIcon icon;
};

struct RecordedFill {
  ClusterBar bar;
  int left;
  int right;
  BarColour colour;
};

class RecordingDisplay : public Display {
 public:
  explicit RecordingDisplay(int bar_width = 500) : bar_width_(bar_width) {}

  void SetStatusText(const std::string& text) override {
    status = text;
    status_history.push_back(text);
  }
  void SetProgressRange(uint32_t maximum) override { progress_max = maximum; }
  void SetProgress(uint64_t position) override {
    progress = static_cast<uint32_t>(position);
    progress_history.push_back(position);
  }
  void SetText(TextField field, const std::string& text) override { texts[field] = text; }
  void ClearFragmentList() override { rows.clear(); }
  void AddFragmentRow(const FragmentRow& row) override { rows.push_back(row); }
  std::size_t FragmentRowCount() override { return rows.size(); }
  FragmentRow GetFragmentRow(std::size_t index) override {
    read_rows.push_back(index);
    return rows.at(index);
  }
  int BarWidth(ClusterBar) override { return bar_width_; }
  void FillBar(ClusterBar bar, int left, int right, BarColour colour) override {
    fills.push_back({bar, left, right, colour});
  }
  void EnableSettings(bool enable) override {
    settings_enabled = enable;
    for (Command c : {Command::kFragment, Command::kDefragment, Command::kVolumeInfo})
      commands[c] = enable;
  }
  void EnableCommand(Command command, bool enable) override { commands[command] = enable; }
  void SetFragmentCountRange(int32_t minimum, int32_t maximum, int32_t position) override {
    range_min = minimum;
    range_max = maximum;
    range_pos = position;
  }
  void ShowErrorBox(const std::string& caption, uint32_t code, BoxOwner owner,
                    BoxIcon icon) override {
    boxes.push_back({caption, code, owner, icon});
  }
  void MoveBegins() override { ++moves_begun; }
  void MoveEnds() override { ++moves_ended; }
  void AddAllocationRow(uint64_t first_lcn, uint64_t length, bool in_use) override {
    allocation_rows.push_back({first_lcn, length, in_use ? 1u : 0u});
  }
  void AddSummaryRow(const std::string& label, const std::string& value) override {
    summary_rows.emplace_back(label, value);
  }

  std::string Text(TextField field) const {
    auto found = texts.find(field);
    return found == texts.end() ? "" : found->second;
  }
  bool CommandEnabled(Command command) const {
    auto found = commands.find(command);
    return found != commands.end() && found->second;
  }
  std::vector<RecordedFill> FillsOf(ClusterBar bar, BarColour colour) const {
    std::vector<RecordedFill> out;
    for (const RecordedFill& fill : fills)
      if (fill.bar == bar && fill.colour == colour) out.push_back(fill);
    return out;
  }

  std::string status;
  std::vector<std::string> status_history;
  uint32_t progress_max = 0;
  uint32_t progress = 0;
  std::vector<uint64_t> progress_history;
  std::map<TextField, std::string> texts;
  std::vector<FragmentRow> rows;
  std::vector<std::size_t> read_rows;
  std::vector<RecordedFill> fills;
  bool settings_enabled = false;
  std::map<Command, bool> commands;
  int32_t range_min = 0, range_max = 0, range_pos = 0;
  std::vector<RecordedBox> boxes;
  int moves_begun = 0, moves_ended = 0;
  struct AllocationRow {
    uint64_t first_lcn, length;
    uint32_t in_use;
  };
  std::vector<AllocationRow> allocation_rows;
  std::vector<std::pair<std::string, std::string>> summary_rows;

 private:
  int bar_width_;
};

}  // namespace shardix::test
