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

#include "volume/error_codes.h"

namespace shardix {

namespace {

constexpr char kGeometryCaption[] = "GetDiskFreeSpace() Error";
constexpr char kFirstReadCaption[] = "FSCTL_GET_VOLUME_BITMAP Error";
constexpr char kSecondReadCaption[] = "FSCTL_GET_VOLUME_BITMAP";

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// The caller's table of the longest free runs. A run enters when it is
// strictly longer than the shortest record kept, and replaces the shortest
// record with the lowest index. A heap ordered by (length, index) finds that
// record in log(count) steps, where a rescan of the table would cost
// count steps per replacement.
class LongestRuns {
 public:
  LongestRuns(FreeRun* table, uint64_t count) : table_(table) {
    heap_.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < heap_.size(); ++i) heap_[i] = i;
    // All records are zero: index order is already heap order.
  }

  void Offer(uint64_t lcn, uint64_t length) {
    if (heap_.empty()) return;
    std::size_t shortest = heap_.front();
    if (length <= table_[shortest].length) return;
    std::pop_heap(heap_.begin(), heap_.end(), Later{table_});
    table_[shortest] = {lcn, length};
    std::push_heap(heap_.begin(), heap_.end(), Later{table_});
  }

 private:
  // The heap keeps the record that is replaced first at the front.
  struct Later {
    const FreeRun* table;
    bool operator()(std::size_t a, std::size_t b) const {
      if (table[a].length != table[b].length) return table[a].length > table[b].length;
      return a > b;
    }
  };
  FreeRun* table_;
  std::vector<std::size_t> heap_;
};

struct Totals {
  uint64_t occupied = 0;
  uint64_t free = 0;
  uint64_t longest_occupied = 0;
  uint64_t longest_free = 0;
};

uint32_t Load32(const uint8_t* bytes) {
  uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}
uint16_t Load16(const uint8_t* bytes) {
  uint16_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// Cuts the bitmap into runs. Where a run goes on over whole bytes it takes 32,
// 16 or 8 clusters a step; the last, partly valid byte is read one bit at a
// time and never past cluster n - 1.
void ScanBitmap(const uint8_t* bits, uint64_t n, Display* lists, LongestRuns* table,
                Totals* totals) {
  const uint64_t whole_bytes = n / 8;
  uint64_t p = 0;
  while (p < n) {
    const uint64_t first = p;
    const unsigned state = (bits[p >> 3] >> (p & 7)) & 1u;
    const uint8_t fill8 = state ? 0xFF : 0x00;
    const uint16_t fill16 = state ? 0xFFFF : 0x0000;
    const uint32_t fill32 = state ? 0xFFFFFFFFu : 0u;
    uint64_t length = 0;
    while (p < n) {
      const uint64_t byte = p >> 3;
      if ((p & 7) == 0) {
        if (byte + 4 <= whole_bytes && Load32(bits + byte) == fill32) {
          length += 32, p += 32;
          continue;
        }
        if (byte + 2 <= whole_bytes && Load16(bits + byte) == fill16) {
          length += 16, p += 16;
          continue;
        }
        if (byte + 1 <= whole_bytes && bits[byte] == fill8) {
          length += 8, p += 8;
          continue;
        }
      }
      if (((bits[byte] >> (p & 7)) & 1u) != state) break;
      ++length, ++p;
    }

    if (state) {
      totals->occupied += length;
      totals->longest_occupied = std::max(totals->longest_occupied, length);
    } else {
      totals->free += length;
      totals->longest_free = std::max(totals->longest_free, length);
      if (table) table->Offer(first, length);
    }
    if (lists) lists->AddAllocationRow(first, length, state != 0);
  }
}

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

  VolumeGeometry geometry;
  uint32_t code = volume ? volume->GetGeometry(&geometry) : kErrorInvalidHandle;
  if (code != kErrorSuccess) {
    display.ShowErrorBox(kGeometryCaption, code, BoxOwner::kNone, BoxIcon::kNone);
    return -1;
  }
  const uint32_t cluster_size = geometry.sectors_per_cluster * geometry.bytes_per_sector;

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

  // Sized in 64 bits: a 32-bit size would wrap on volumes of 2^35 clusters
  // and more and hand the file system a buffer far too small.
  const uint64_t size = sizeof(VolumeBitmapBuffer) + n / 8 + 1;
  Buffer buffer;
  std::unique_ptr<LongestRuns> table;
  const bool fits = size <= std::numeric_limits<std::size_t>::max() &&
                    count <= std::numeric_limits<std::size_t>::max() / sizeof(std::size_t);
  if (fits)
    buffer.reset(static_cast<uint8_t*>(std::calloc(static_cast<std::size_t>(size), 1)));
  try {
    if (buffer && count) table = std::make_unique<LongestRuns>(free_runs, count);
  } catch (const std::bad_alloc&) {
    buffer.reset();
  } catch (const std::length_error&) {
    buffer.reset();
  }
  if (!buffer) {
    display.ShowErrorBox(kSecondReadCaption, kErrorNotEnoughMemory, BoxOwner::kNone,
                         BoxIcon::kError);
    return -1;
  }

  code = volume->GetVolumeBitmap(0, buffer.get(), static_cast<std::size_t>(size), &returned);
  if (code != kErrorSuccess) {
    display.ShowErrorBox(kSecondReadCaption, code, BoxOwner::kNone, BoxIcon::kError);
    return -1;
  }

  Totals totals;
  Display* lists = mode == VolumeAnalysisMode::kFillLists ? &display : nullptr;
  ScanBitmap(buffer.get() + kVolumeBitmapHeaderSize, n, lists, table.get(), &totals);
  buffer.reset();
  table.reset();

  if (lists) {
    lists->AddSummaryRow("Cluster Size:", FormatClusterSize(cluster_size));
    lists->AddSummaryRow("Total Disk Clusters:", Decimal(n));
    lists->AddSummaryRow("Total Occupied Clusters:", Decimal(totals.occupied));
    lists->AddSummaryRow("Total Free Clusters:", Decimal(totals.free));
    lists->AddSummaryRow("Largest Consecutive Free Block:", Decimal(totals.longest_free));
    lists->AddSummaryRow("Largest Consecutive Occupied Block:", Decimal(totals.longest_occupied));
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
