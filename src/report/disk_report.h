// The disk report: the Volume Info lists as a plain text file, lines ended
// by CR LF, in the lists' display order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "display/display.h"
#include "report/allocation_rows.h"

namespace shardix {

// The two lists as the Volume Info dialog holds them, in display order. The
// dialog reads its list controls; the command line and the tests keep them
// in memory.
class DiskReportLists {
 public:
  virtual ~DiskReportLists() = default;
  virtual std::size_t SummaryRowCount() const = 0;
  virtual SummaryRowText SummaryRowAt(std::size_t index) const = 0;
  virtual std::size_t AllocationRowCount() const = 0;
  virtual AllocationRowText AllocationRowAt(std::size_t index) const = 0;
  // The row as numbers, where the lists hold it so (the report then formats
  // it without going through its cell texts); false where they do not.
  virtual bool AllocationRowNumbers(std::size_t index, AllocationRow* row) const {
    (void)index, (void)row;
    return false;
  }
};

// Lists kept in memory, filled by the analysis like the dialog's controls.
class StoredReportLists : public DiskReportLists {
 public:
  std::size_t SummaryRowCount() const override { return summary.size(); }
  SummaryRowText SummaryRowAt(std::size_t index) const override { return summary.at(index); }
  std::size_t AllocationRowCount() const override { return allocation.size(); }
  AllocationRowText AllocationRowAt(std::size_t index) const override {
    return FormatAllocationRow(allocation.at(index));
  }
  bool AllocationRowNumbers(std::size_t index, AllocationRow* row) const override {
    *row = allocation.at(index);
    return true;
  }

  // A column click on the allocation list: the sort state moves on and the
  // rows are sorted by the key it gives (rows that compare equal keep their
  // order).
  void SortAllocation(AllocationSortState& state, int column);

  std::vector<SummaryRowText> summary;
  std::vector<AllocationRow> allocation;
};

// The report's bytes.
std::string DiskReportText(const DiskReportLists& lists);

// Writes the report to `path`, creating the file or overwriting it whole
// (see ReplacingFile: nothing else is deleted or renamed, and a failed save
// leaves no partial report of ours). Returns 0, or -1 after the "File save
// error" box (owned by the dialog) with the system's text.
int SaveDiskReport(Display& display, const DiskReportLists& lists, const std::string& path);

}  // namespace shardix
