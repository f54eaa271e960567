#include "report/volume_analysis.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "report/bitmap_runs.h"
#include "volume/error_codes.h"

namespace shardix {

namespace {

constexpr char kGeometryCaption[] = "GetDiskFreeSpace() Error";
constexpr char kFirstReadCaption[] = "FSCTL_GET_VOLUME_BITMAP Error";
constexpr char kSecondReadCaption[] = "FSCTL_GET_VOLUME_BITMAP";

// The bitmap is read and walked a piece at a time: a piece stays in the
// processor's caches while it is walked, and a volume of any size needs
// no more memory than this.
constexpr uint64_t kPieceBytes = uint64_t{256} << 10;

std::string Decimal(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64, value);
  return text;
}

}  // namespace

std::string FormatClusterSize(uint32_t cluster_size) {
  char text[kTextBufferSize];
  if (cluster_size >= 10000)
    std::snprintf(text, sizeof text, "%.0f KB", cluster_size / 1024.0);
  else
    std::snprintf(text, sizeof text, "%.0f Bytes", static_cast<double>(cluster_size));
  return text;
}

std::string VolumeReportTitle(const Volume& volume) {
  char text[kTextBufferSize];
  std::snprintf(text, sizeof text, "Disk Report for: (%s)", volume.DisplayName().c_str());
  return text;
}

int AnalyzeVolume(Volume* volume, Display& display, VolumeAnalysisMode mode, uint64_t* free_total,
                  FreeRun* free_runs, uint64_t count) {
  if (!free_runs) count = 0;
  if (count) std::fill_n(free_runs, count, FreeRun{});

  // Only the cluster size: the free total comes from the walk below.
  uint32_t sectors_per_cluster = 0, bytes_per_sector = 0;
  uint32_t code = volume ? volume->GetClusterSize(&sectors_per_cluster, &bytes_per_sector)
                         : kErrorInvalidHandle;
  if (code != kErrorSuccess) {
    display.ShowErrorBox(kGeometryCaption, code, BoxOwner::kNone, BoxIcon::kNone);
    return -1;
  }
  const uint32_t cluster_size = sectors_per_cluster * bytes_per_sector;

  // The first read only learns the bitmap's size.
  VolumeBitmapBuffer header{};
  std::size_t returned = 0;
  code = volume->GetVolumeBitmap(0, &header, sizeof header, &returned);
  if (code != kErrorSuccess && code != kErrorMoreData) {
    display.ShowErrorBox(kFirstReadCaption, code, BoxOwner::kNone, BoxIcon::kNone);
    return -1;
  }
  if (header.bitmap_size < 0 || header.starting_lcn != 0) {
    display.ShowErrorBox(kFirstReadCaption, kErrorInvalidData, BoxOwner::kNone, BoxIcon::kNone);
    return -1;
  }
  const uint64_t n = static_cast<uint64_t>(header.bitmap_size);

  // The rows wait until the whole bitmap has been read, so a failed read
  // leaves the lists empty.
  std::vector<uint8_t> piece;
  std::vector<AllocationRow> rows;
  std::unique_ptr<LongestRuns> table;
  const bool lists = mode == VolumeAnalysisMode::kFillLists;
  const uint64_t bitmap_bytes = (n + 7) / 8;
  try {
    piece.resize(sizeof(VolumeBitmapBuffer) +
                 static_cast<std::size_t>(std::min(bitmap_bytes, kPieceBytes)));
    if (count) table = std::make_unique<LongestRuns>(free_runs, count);
  } catch (const std::exception&) {
    display.ShowErrorBox(kSecondReadCaption, kErrorNotEnoughMemory, BoxOwner::kNone,
                         BoxIcon::kError);
    return -1;
  }

  RunWalker walker(n, lists ? &rows : nullptr, table.get());
  uint64_t byte = 0;
  do {
    const uint64_t bytes = std::min(bitmap_bytes - byte, kPieceBytes);
    const bool last = byte + bytes >= bitmap_bytes;
    // (Never shorter than the buffer layout, for a volume without clusters.)
    const std::size_t request = std::max(sizeof(VolumeBitmapBuffer),
                                          kVolumeBitmapHeaderSize + static_cast<std::size_t>(bytes));
    code = volume->GetVolumeBitmap(static_cast<int64_t>(byte * 8), piece.data(), request, &returned);
    // A piece before the last one is short of the end by design.
    if (code == kErrorMoreData && !last) code = kErrorSuccess;
    int64_t starting_lcn = 0;
    std::memcpy(&starting_lcn, piece.data(), sizeof starting_lcn);
    if (code == kErrorSuccess && starting_lcn != static_cast<int64_t>(byte * 8))
      code = kErrorInvalidData;
    if (code != kErrorSuccess) {
      if (count) std::fill_n(free_runs, count, FreeRun{});
      display.ShowErrorBox(kSecondReadCaption, code, BoxOwner::kNone, BoxIcon::kError);
      return -1;
    }
    walker.Feed(piece.data() + kVolumeBitmapHeaderSize, bytes, byte * 8);
    byte += bytes;
  } while (byte < bitmap_bytes);
  walker.Finish();
  piece = {};
  table.reset();
  const RunTotals& totals = walker.totals();

  if (lists) {
    for (const AllocationRow& row : rows) display.AddAllocationRow(row.first_lcn, row.length, row.in_use);
    rows = {};
    display.AddSummaryRow("Cluster Size:", FormatClusterSize(cluster_size));
    display.AddSummaryRow("Total Disk Clusters:", Decimal(n));
    display.AddSummaryRow("Total Occupied Clusters:", Decimal(totals.occupied));
    display.AddSummaryRow("Total Free Clusters:", Decimal(totals.free));
    display.AddSummaryRow("Largest Consecutive Free Block:", Decimal(totals.longest_free));
    display.AddSummaryRow("Largest Consecutive Occupied Block:", Decimal(totals.longest_occupied));
  }
  // Longest first; equal lengths keep their table order, so a plan is the
  // same on every platform.
  if (count)
    std::stable_sort(free_runs, free_runs + count,
                     [](const FreeRun& a, const FreeRun& b) { return a.length > b.length; });
  if (free_total) *free_total = totals.free;
  return 0;
}

}  // namespace shardix
