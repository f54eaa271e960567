// Time per fragment of FragmentFile for 10 000 fragments on a simulated
// volume of 2^24 clusters, set against the cost of one copy of that
// volume's bitmap measured in the same run. The planner reads only windows
// of the bitmap where its scans look, so a fragment costs well under one
// copy of the whole bitmap.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "display/display.h"
#include "fragment/fragment_file.h"
#include "fragment/random.h"
#include "volume/error_codes.h"
#include "volume/memory/memory_volume.h"

namespace {

using namespace shardix;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kVolumeClusters = uint64_t{1} << 24;
constexpr uint64_t kFragments = 10000;
constexpr uint64_t kFragmentSize = 16;

// Shows nothing: the bench times the planner, not a display.
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
  }
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Passes calls on and adds up the time spent in the volume's own reads and
// moves, so the planner's share can be told apart.
class TimedVolume : public Volume {
 public:
  explicit TimedVolume(Volume* inner) : inner_(inner) {}
  uint32_t GetVolumeBitmap(int64_t lcn, void* out, std::size_t size, std::size_t* returned) override {
    auto start = Clock::now();
    uint32_t code = inner_->GetVolumeBitmap(lcn, out, size, returned);
    reading += Seconds(Clock::now() - start);
    ++reads;
    return code;
  }
  uint32_t MoveClusters(VolumeFile& file, int64_t vcn, int64_t lcn, uint32_t count) override {
    auto start = Clock::now();
    uint32_t code = inner_->MoveClusters(file, vcn, lcn, count);
    moving += Seconds(Clock::now() - start);
    return code;
  }
  uint32_t GetGeometry(VolumeGeometry* geometry) override { return inner_->GetGeometry(geometry); }
  std::string DisplayName() const override { return inner_->DisplayName(); }
  double reading = 0, moving = 0;
  uint64_t reads = 0;

 private:
  Volume* inner_;
};

// The median time of one whole-bitmap read into a buffer sized as the planner sizes it.
double BitmapCopySeconds(Volume& volume) {
  std::vector<uint8_t> buffer(24 + kVolumeClusters / 8 + 1);
  std::vector<double> times;
  for (int i = 0; i < 51; ++i) {
    auto start = Clock::now();
    std::size_t returned = 0;
    if (volume.GetVolumeBitmap(0, buffer.data(), buffer.size(), &returned) != kErrorSuccess)
      std::fprintf(stderr, "bitmap read failed\n");
    times.push_back(Seconds(Clock::now() - start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  const char* names[] = {"Concentrated", "Scattered", "Random", "First Fit"};
  std::printf("FragmentFile: %llu fragments of %llu clusters on a volume of 2^24 clusters\n",
              static_cast<unsigned long long>(kFragments),
              static_cast<unsigned long long>(kFragmentSize));
  for (int32_t method = 0; method < 4; ++method) {
    MemoryVolume::Options options;
    options.cluster_count = kVolumeClusters;
    options.track_data = false;
    options.checkpoint_every_moves = 1;
    auto memory = MemoryVolume::Create(options);
    memory->MarkUnmovable(0, 4096);
    const uint64_t clusters = kFragments * kFragmentSize;
    memory->AddFile("bench.bin", clusters * 4096,
                    {{0, static_cast<int64_t>(clusters), static_cast<int64_t>(kVolumeClusters / 2)}});
    std::unique_ptr<Volume> volume;
    std::unique_ptr<VolumeFile> file;
    memory->OpenVolume(&volume);
    memory->OpenFile("bench.bin", &file);

    const double copy = BitmapCopySeconds(*volume);
    QuietDisplay display;
    ShardixRandom random(1);
    TimedVolume timed(volume.get());
    JobContext context{&timed, file.get(), &display, &random, nullptr};
    auto start = Clock::now();
    const int result = FragmentFile(context, kFragments, kFragmentSize, method, clusters);
    const double total = Seconds(Clock::now() - start);
    const double per_fragment = total / kFragments;
    const double planner = (total - timed.reading - timed.moving) / kFragments;
    std::printf("  %-12s result %d: %6.1f us per fragment = %6.1f bitmap reads + %6.1f moves + "
                "%5.1f planner (%llu reads); one bitmap copy %5.1f us; ratio %.2f (planner alone %.3f)\n",
                names[method], result, per_fragment * 1e6, timed.reading / kFragments * 1e6,
                timed.moving / kFragments * 1e6, planner * 1e6,
                static_cast<unsigned long long>(timed.reads), copy * 1e6, per_fragment / copy,
                planner / copy);
  }
  return 0;
}
