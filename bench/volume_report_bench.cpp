// Timings of the volume report, each against a baseline measured in the
// same run over the same data:
//   - AnalyzeVolume in quiet mode (free total and a 1 999-run table, as a
//     2 000-fragment defragmentation asks) on a 2^32-cluster volume, for a
//     realistic layout and for the worst one (every other cluster in use),
//     against a plain population count of the same bitmap, with and without
//     reading the bitmap;
//   - the memory volume's read of its whole 512 MiB bitmap against a memcpy
//     of as many bytes into the same buffer;
//   - saving a disk report of one million runs against writing the same
//     bytes with one fwrite.
// Each line ends with "ratio R (goal <= G)".
// Usage: volume_report_bench [FOLDER [report|memory|realistic|worst]]
//        (FOLDER for the report file, default /tmp; the second word runs one part)
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "report/disk_report.h"
#include "report/volume_analysis.h"
#include "volume/bitmap_words.h"
#include "volume/error_codes.h"
#include "volume/memory/memory_volume.h"

namespace {

using namespace shardix;
using Clock = std::chrono::steady_clock;
constexpr uint64_t kClusters = uint64_t{1} << 32;

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(const std::function<void()>& work, int times = 3) {
  std::vector<double> values;
  for (int i = 0; i < times; ++i) values.push_back(Seconds(work));
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Only the error boxes reach it in quiet mode.
class QuietDisplay : public Display {
 public:
  void SetStatusText(const std::string&) override {}
  void SetProgressRange(uint32_t) override {}
  void SetProgress(uint64_t) override {}
  void SetText(TextField, const std::string&) override {}
  void ClearFragmentList() override {}
  void AddFragmentRow(const FragmentRow&) override {}
  std::size_t FragmentRowCount() override { return 0; }
  FragmentRow GetFragmentRow(std::size_t) override { return {}; }
  int BarWidth(ClusterBar) override { return 0; }
  void FillBar(ClusterBar, int, int, BarColour) override {}
  void EnableSettings(bool) override {}
  void EnableCommand(Command, bool) override {}
  void SetFragmentCountRange(int32_t, int32_t, int32_t) override {}
  void ShowErrorBox(const std::string& caption, uint32_t code, BoxOwner, BoxIcon) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), ErrorMessage(code).c_str());
    std::exit(1);
  }
};

// A volume that serves a prepared bitmap as the memory backend does (a copy
// into the caller's buffer). The worst layout has 2^31 used runs: marking
// them one by one in the memory backend would take minutes.
class ServedBitmap : public Volume {
 public:
  explicit ServedBitmap(std::vector<uint64_t> words) : words_(std::move(words)) {}
  uint32_t GetVolumeBitmap(int64_t lcn, void* out, std::size_t size, std::size_t* got) override {
    const uint64_t start = static_cast<uint64_t>(lcn) & ~uint64_t{7};
    int64_t header[2] = {static_cast<int64_t>(start), static_cast<int64_t>(kClusters - start)};
    std::memcpy(out, header, sizeof header);
    const std::size_t needed = (kClusters - start) / 8;
    const std::size_t copied = std::min<std::size_t>(needed, size - 16);
    std::memcpy(static_cast<uint8_t*>(out) + 16,
                reinterpret_cast<const uint8_t*>(words_.data()) + start / 8, copied);
    if (got) *got = 16 + copied;
    return copied < needed ? kErrorMoreData : kErrorSuccess;
  }
  uint32_t MoveClusters(VolumeFile&, int64_t, int64_t, uint32_t) override { return kErrorNotSupported; }
  uint32_t GetGeometry(VolumeGeometry* geometry) override {
    geometry->sectors_per_cluster = 8;
    geometry->bytes_per_sector = 512;
    return kErrorSuccess;
  }
  std::string DisplayName() const override { return "served"; }

 private:
  std::vector<uint64_t> words_;
};

// The bitmap through the volume, and a population count over it.
std::vector<uint8_t> ReadBitmap(Volume& volume) {
  std::vector<uint8_t> buffer(16 + kClusters / 8);
  std::size_t got = 0;
  if (volume.GetVolumeBitmap(0, buffer.data(), buffer.size(), &got) != kErrorSuccess) std::exit(1);
  return buffer;
}
uint64_t PopCount(const std::vector<uint8_t>& buffer) {
  return CountSetBits(buffer.data() + 16, kClusters / 8);
}

void PrintRatio(const char* what, double ratio, double goal) {
  std::printf("RATIO %-40s %6.2f (goal <= %.1f)%s\n", what, ratio, goal, ratio <= goal ? "" : "  MISSED");
}

void CompareWithPopCount(const char* layout, Volume& volume) {
  QuietDisplay display;
  std::vector<FreeRun> table(1999);
  uint64_t free_total = 0, used = 0;
  const double analysis = Median([&] {
    AnalyzeVolume(&volume, display, VolumeAnalysisMode::kQuiet, &free_total, table.data(),
                  table.size());
  });
  std::vector<uint8_t> bitmap = ReadBitmap(volume);
  const double count = Median([&] { used = PopCount(bitmap); });
  bitmap.clear();
  bitmap.shrink_to_fit();
  const double read_and_count = Median([&] { used = PopCount(ReadBitmap(volume)); });
  if (used + free_total != kClusters) {
    std::fprintf(stderr, "%s: totals disagree\n", layout);
    std::exit(1);
  }
  std::printf("%-10s AnalyzeVolume %.3f s | popcount %.3f s (ratio %.1f) | read + popcount %.3f s "
              "(ratio %.1f) | longest free %llu\n",
              layout, analysis, count, analysis / count, read_and_count, analysis / read_and_count,
              static_cast<unsigned long long>(table[0].length));
  PrintRatio((std::string("AnalyzeVolume ") + layout + " / read + popcount").c_str(),
             analysis / read_and_count, 2.0);
}

// The whole bitmap of an empty 2^32-cluster memory volume (512 MiB) into a
// buffer already in use, against a memcpy of as many bytes into it.
void MemoryRead() {
  MemoryVolume::Options options;
  options.cluster_count = kClusters;
  options.track_data = false;
  auto memory = MemoryVolume::Create(options);
  memory->MarkUnmovable(0, 1 << 20);
  std::unique_ptr<Volume> volume;
  memory->OpenVolume(&volume);
  std::vector<uint8_t> buffer(16 + kClusters / 8), source(kClusters / 8, 0x5A);
  // Taken in turns, the fastest of several: on a shared machine a single
  // copy of 512 MiB varies by a factor of two.
  double read = 1e9, copy = 1e9;
  for (int i = 0; i < 9; ++i) {
    read = std::min(read, Seconds([&] {
      std::size_t got = 0;
      if (volume->GetVolumeBitmap(0, buffer.data(), buffer.size(), &got) != kErrorSuccess) std::exit(1);
    }));
    copy = std::min(copy, Seconds([&] { std::memcpy(buffer.data() + 16, source.data(), source.size()); }));
  }
  std::printf("memory volume bitmap read of 512 MiB %.3f s | memcpy %.3f s\n", read, copy);
  PrintRatio("memory volume read / memcpy", read / copy, 1.5);
}

// Used and free runs of exponentially distributed lengths, about 60% in use
// (files of some MiB on average, free gaps between them).
void Realistic() {
  MemoryVolume::Options options;
  options.cluster_count = kClusters;
  options.track_data = false;
  auto memory = MemoryVolume::Create(options);
  std::mt19937_64 random(1);
  std::exponential_distribution<double> used_length(1.0 / 3000), free_length(1.0 / 2000);
  uint64_t runs = 0;
  const double built = Seconds([&] {
    for (uint64_t lcn = 0; lcn < kClusters;) {
      uint64_t used = 1 + static_cast<uint64_t>(used_length(random));
      used = std::min(used, kClusters - lcn);
      memory->MarkUnmovable(static_cast<int64_t>(lcn), static_cast<int64_t>(used));
      lcn += used + 1 + static_cast<uint64_t>(free_length(random));
      runs += 2;
    }
  });
  std::unique_ptr<Volume> volume;
  memory->OpenVolume(&volume);
  std::printf("realistic layout: about %llu runs, %.0f%% in use (built in %.1f s)\n",
              static_cast<unsigned long long>(runs),
              100.0 * (kClusters - memory->FreeClusters()) / kClusters, built);
  CompareWithPopCount("realistic", *volume);
}

void Alternating() {
  ServedBitmap volume(std::vector<uint64_t>(kClusters / 64, 0x5555555555555555ull));
  std::printf("worst layout: every other cluster in use, 2^32 runs\n");
  CompareWithPopCount("worst", volume);
}

void Report(const std::string& folder) {
  StoredReportLists lists;
  QuietDisplay display;
  std::mt19937_64 random(2);
  uint64_t lcn = 0;
  for (int i = 0; i < 1000000; ++i) {
    uint64_t length = 1 + random() % 5000;
    lists.allocation.push_back({lcn, length, i % 2 == 0});
    lcn += length;
  }
  lists.summary = {{"Cluster Size:", "4096 Bytes"}, {"Total Disk Clusters:", std::to_string(lcn)}};
  const std::string path = folder + "/volume_report_bench.txt";
  const std::string text = DiskReportText(lists);
  double save = 1e9, plain = 1e9;
  for (int i = 0; i < 5; ++i) {
    save = std::min(save, Seconds([&] { SaveDiskReport(display, lists, path); }));
    plain = std::min(plain, Seconds([&] {
      std::FILE* file = std::fopen(path.c_str(), "wb");
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
    }));
  }
  std::remove(path.c_str());
  std::printf("report of 1 000 000 runs (%.1f MB): SaveDiskReport %.3f s | one fwrite %.3f s\n",
              text.size() / 1e6, save, plain);
  PrintRatio("SaveDiskReport / one fwrite", save / plain, 2.0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "/tmp";
  const std::string only = argc > 2 ? argv[2] : "";
  if (only.empty() || only == "report") Report(folder);
  if (only.empty() || only == "memory") MemoryRead();
  if (only.empty() || only == "realistic") Realistic();
  if (only.empty() || only == "worst") Alternating();
  return 0;
}
