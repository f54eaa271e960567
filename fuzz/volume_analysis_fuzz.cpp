// The volume analysis over arbitrary bitmaps: any bits, any cluster count
// up to what the input covers, a bitmap size in the answer's header that
// may disagree with it, and the geometry, in every mode.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "report/volume_analysis.h"
#include "tests/report/bitmap_volume.h"
#include "tests/support/recording_display.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  shardix::fuzz::FuzzInput input(data, size);
  const uint8_t mode = input.Take<uint8_t>();
  const uint8_t skew = input.Take<uint8_t>();
  const uint8_t sectors = input.Take<uint8_t>();
  const size_t header = 3;
  if (size <= header) return 0;  // a volume has at least one cluster
  const std::vector<uint8_t> bits(data + std::min(size, header), data + size);
  const uint64_t clusters = bits.size() * 8 - (skew % 8 < bits.size() * 8 ? skew % 8 : 0);
  shardix::test::BitmapVolume volume(clusters, bits);
  if (skew & 0x80) volume.header_size = static_cast<int64_t>(clusters) + (skew & 0x3f) - 32;
  volume.sectors_per_cluster = sectors;
  shardix::test::RecordingDisplay display;
  uint64_t free_total = 0;
  shardix::FreeRun runs[4] = {};
  shardix::AnalyzeVolume(&volume, display,
                         mode % 2 ? shardix::VolumeAnalysisMode::kFillLists
                                  : shardix::VolumeAnalysisMode::kQuiet,
                         &free_total, runs, mode & 2 ? 4 : 0);
  return 0;
}
