#include "report/disk_report.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "volume/error_codes.h"
#include "volume/replacing_file.h"

namespace shardix {

namespace {

constexpr char kSaveErrorCaption[] = "File save error";
constexpr char kLineEnd[] = "\r\n";

// Where the report's pieces go: a string or a file.
class ReportSink {
 public:
  virtual ~ReportSink() = default;
  virtual bool Write(const char* text, std::size_t length) = 0;
  bool Write(const char* text) { return Write(text, std::strlen(text)); }
};

class StringSink : public ReportSink {
 public:
  bool Write(const char* text, std::size_t length) override {
    out.append(text, length);
    return true;
  }
  std::string out;
};

// The report's bytes on their way into the file named by the user.
class FileSink : public ReportSink {
 public:
  explicit FileSink(ReplacingFile& file) : file_(file) {}
  bool Write(const char* text, std::size_t length) override {
    return file_.Write(text, length) == kErrorSuccess;
  }

 private:
  ReplacingFile& file_;
};

// A cell as the dialog fetches it (a 512-character buffer), left-aligned
// and padded with spaces to `width`, as a "%-25s" format pads it; a longer
// text is written whole.
bool WriteCell(ReportSink& sink, std::size_t width, const std::string& cell) {
  static const char kSpaces[] = "                                                  ";  // 50
  const std::size_t length = strnlen(cell.c_str(), kTextBufferSize - 1);
  if (!sink.Write(cell.data(), length)) return false;
  for (std::size_t padded = length; padded < width;) {
    const std::size_t step = std::min(width - padded, sizeof kSpaces - 1);
    if (!sink.Write(kSpaces, step)) return false;
    padded += step;
  }
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
    AllocationRowText row = lists.AllocationRowAt(i);
    if (!WriteCell(sink, 25, row.range) || !WriteCell(sink, 15, row.clusters) ||
        !WriteCell(sink, 6, row.state) || !sink.Write(kLineEnd))
      return false;
  }
  return true;
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
    FileSink sink(file);
    try {
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
