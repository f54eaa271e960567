#include "report/disk_report.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "volume/error_codes.h"
#include "volume/replacing_file.h"

namespace shardix {

namespace {

constexpr char kSaveErrorCaption[] = "File save error";
constexpr char kLineEnd[] = "\r\n";

// Where the report's pieces go: a string or a file. The pieces are gathered
// in one large block that is handed on whole, so a report of a million rows
// costs a few dozen writes rather than millions of small ones.
class ReportSink {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

  virtual ~ReportSink() = default;
  bool Write(const char* text, std::size_t length) {
    if (used_ + length > kBlockBytes) {
      if (!Drain()) return false;
      if (length > kBlockBytes) return Hand(text, length);
    }
    std::memcpy(block_.get() + used_, text, length);
    used_ += length;
    return true;
  }
  bool Write(const char* text) { return Write(text, std::strlen(text)); }
  // Room for `length` bytes at the block's end, to be filled and then
  // taken with Commit; null when the block could not be handed on.
  char* Reserve(std::size_t length) {
    if (used_ + length > kBlockBytes && !Drain()) return nullptr;
    return block_.get() + used_;
  }
  void Commit(std::size_t length) { used_ += length; }
  bool Pad(std::size_t count) {
    static const char kSpaces[] = "                                                  ";  // 50
    for (std::size_t step; count > 0; count -= step) {
      step = std::min(count, sizeof kSpaces - 1);
      if (!Write(kSpaces, step)) return false;
    }
    return true;
  }
  // Hands on what the block holds.
  bool Drain() {
    const bool handed = used_ == 0 || Hand(block_.get(), used_);
    used_ = 0;
    return handed;
  }

 protected:
  ReportSink() : block_(new char[kBlockBytes]) {}
  virtual bool Hand(const char* bytes, std::size_t length) = 0;

 private:
  std::unique_ptr<char[]> block_;
  std::size_t used_ = 0;
};

class StringSink : public ReportSink {
 public:
  std::string out;

 private:
  bool Hand(const char* bytes, std::size_t length) override {
    out.append(bytes, length);
    return true;
  }
};

// The report's bytes on their way into the file named by the user.
class FileSink : public ReportSink {
 public:
  explicit FileSink(ReplacingFile& file) : file_(file) {}

 private:
  bool Hand(const char* bytes, std::size_t length) override {
    return file_.Write(bytes, length) == kErrorSuccess;
  }
  ReplacingFile& file_;
};

// A cell as the dialog fetches it (a 512-character buffer), left-aligned
// and padded with spaces to `width`, as a "%-25s" format pads it; a longer
// text is written whole.
bool WriteCell(ReportSink& sink, std::size_t width, const std::string& cell) {
  const std::size_t length = strnlen(cell.c_str(), kTextBufferSize - 1);
  return sink.Write(cell.data(), length) && (length >= width || sink.Pad(width - length));
}

// An allocation row held as numbers, formatted as its cells would read and
// then be padded by WriteCell, straight into one line.
bool WriteAllocationLine(ReportSink& sink, const AllocationRow& row) {
  constexpr std::size_t kLongestLine = 20 + 3 + 20 + 2 + 20 + 15 + 6 + 2;
  char* const line = sink.Reserve(kLongestLine);
  if (!line) return false;
  char* at = line;
  auto number = [&at](uint64_t value) { at = std::to_chars(at, at + 20, value).ptr; };
  auto pad_to = [&at](char* cell, std::size_t width) {
    if (at < cell + width) {
      std::memset(at, ' ', static_cast<std::size_t>(cell + width - at));
      at = cell + width;
    }
  };
  char* cell = at;
  number(row.first_lcn);
  std::memcpy(at, " - ", 3);
  at += 3;
  number(row.first_lcn + row.length - 1);
  pad_to(cell, 25);
  cell = at;
  number(row.length);
  pad_to(cell, 15);
  if (row.in_use) {
    std::memcpy(at, "In-Use\r\n", 8);
    at += 8;
  } else {
    std::memcpy(at, "Free  \r\n", 8);
    at += 8;
  }
  sink.Commit(static_cast<std::size_t>(at - line));
  return true;
}

bool WriteReport(ReportSink& sink, const DiskReportLists& lists) {
  if (!sink.Write("Disk summary:\r\n\r\n")) return false;
  const std::size_t summary_rows = lists.SummaryRowCount();
  for (std::size_t i = 0; i < summary_rows; ++i) {
    SummaryRowText row = lists.SummaryRowAt(i);
    if (!sink.Write("\t") || !WriteCell(sink, 50, row.label) ||
        !WriteCell(sink, 0, row.value) || !sink.Write(kLineEnd))
      return false;
  }
  if (!sink.Write(kLineEnd) || !sink.Write(std::string(80, '-').c_str()) || !sink.Write(kLineEnd))
    return false;
  if (!sink.Write("Cluster allocation information:\r\n\r\n")) return false;
  if (!WriteCell(sink, 25, "LCN Range") || !WriteCell(sink, 15, "# Clusters") ||
      !WriteCell(sink, 6, "Free|In-Use") || !sink.Write(kLineEnd))
    return false;
  const std::size_t allocation_rows = lists.AllocationRowCount();
  for (std::size_t i = 0; i < allocation_rows; ++i) {
    AllocationRow numbers;
    if (lists.AllocationRowNumbers(i, &numbers)) {
      if (!WriteAllocationLine(sink, numbers)) return false;
      continue;
    }
    AllocationRowText row = lists.AllocationRowAt(i);
    if (!WriteCell(sink, 25, row.range) || !WriteCell(sink, 15, row.clusters) ||
        !WriteCell(sink, 6, row.state) || !sink.Write(kLineEnd))
      return false;
  }
  return sink.Drain();
}

}  // namespace

void StoredReportLists::SortAllocation(AllocationSortState& state, int column) {
  const int key = NextAllocationSortKey(state, column);
  std::stable_sort(allocation.begin(), allocation.end(),
                   [key](const AllocationRow& a, const AllocationRow& b) {
                     return CompareAllocationRows(a, b, key) < 0;
                   });
}

std::string DiskReportText(const DiskReportLists& lists) {
  StringSink sink;
  WriteReport(sink, lists);
  return sink.out;
}

int SaveDiskReport(Display& display, const DiskReportLists& lists, const std::string& path) {
  ReplacingFile file;
  uint32_t code = file.Open(path);
  if (code == kErrorSuccess) {
    try {
      FileSink sink(file);
      // A write that fails keeps its code in `file`; Commit returns it.
      WriteReport(sink, lists);
      code = file.Commit();
    } catch (const std::bad_alloc&) {
      file.Abandon();
      code = kErrorNotEnoughMemory;
    }
  }
  if (code != kErrorSuccess) {
    display.ShowErrorBox(kSaveErrorCaption, code, BoxOwner::kDialog, BoxIcon::kNone);
    return -1;
  }
  return 0;
}

}  // namespace shardix
