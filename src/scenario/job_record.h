// What an engine job showed while a scenario step ran it: the status line,
// the text fields and the last error box, kept for the step's notes and
// failures. Nothing is drawn; the caller's progress lines say what runs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "display/display.h"
#include "volume/error_codes.h"

namespace shardix::scenario {

class JobRecord final : public Display {
 public:
  void SetStatusText(const std::string& text) override { status_ = text; }
  void SetProgressRange(uint32_t) override {}
  void SetProgress(uint64_t) override {}
  void SetText(TextField field, const std::string& text) override { texts_[field] = text; }
  void ClearFragmentList() override { rows_.clear(); }
  void AddFragmentRow(const FragmentRow& row) override { rows_.push_back(row); }
  std::size_t FragmentRowCount() override { return rows_.size(); }
  FragmentRow GetFragmentRow(std::size_t index) override { return rows_.at(index); }
  int BarWidth(ClusterBar) override { return 64; }
  void FillBar(ClusterBar, int, int, BarColour) override {}
  void EnableSettings(bool) override {}
  void EnableCommand(Command, bool) override {}
  void SetFragmentCountRange(int32_t, int32_t, int32_t) override {}
  void ShowErrorBox(const std::string& caption, uint32_t code, BoxOwner, BoxIcon) override {
    box_ = caption + ": " + ErrorMessage(code);
  }

  // The status line, or the error box when the job failed before setting one.
  std::string status() const { return status_.empty() ? box_ : status_; }
  std::string Text(TextField field) const {
    const auto found = texts_.find(field);
    return found == texts_.end() ? "" : found->second;
  }

 private:
  std::string status_, box_;
  std::map<TextField, std::string> texts_;
  std::vector<FragmentRow> rows_;
};

}  // namespace shardix::scenario
