// The conformance suite on the simulated volume; its oracle is the volume's
// own model, read without the handles under test.
#include <atomic>

#include "tests/volume/conformance.h"
#include "volume/memory/memory_volume.h"

namespace shardix::test {
namespace {

class MemoryTarget final : public VolumeTestTarget {
 public:
  MemoryTarget() : name_("conformance" + std::to_string(next_id_++)) {
    MemoryVolume::Options options;
    options.cluster_count = 9997;  // not a multiple of 8: the last bitmap byte is partial
    volume_ = MemoryVolume::Create(options);
    const uint64_t cluster = volume_->cluster_size();
    volume_->MarkUnmovable(0, 16);
    volume_->AddSystemFile("system", 64 * cluster, {{0, 64, 16}});
    volume_->AddFile("contiguous", 100 * cluster, {{0, 100, 200}});
    volume_->AddFile("fragmented", 42 * cluster - 100,
                     {{0, 10, 400}, {10, 20, 500}, {30, 5, 700}, {35, 7, 900}});
    volume_->AddFile("sparse", 32 * cluster, {{0, 8, 1200}, {8, 16, -1}, {24, 8, 1300}});
    volume_->AddFile("empty", 0, {});
    volume_->AddResidentFile("resident", 300);
    volume_->AddFile("other", 3 * cluster, {{0, 3, 9990}});
    RegisterMemoryVolume(name_, volume_);
  }
  ~MemoryTarget() override { UnregisterMemoryVolume(name_); }

  std::string PathOf(const std::string& name) override { return VolumePath() + "/" + name; }
  std::string VolumePath() override { return kMemoryPathPrefix + name_; }
  uint64_t ClusterCount() override { return volume_->cluster_count(); }
  uint32_t ClusterSize() override { return volume_->cluster_size(); }

  std::vector<ExpectedExtent> ExpectedExtents(const std::string& name) override {
    std::vector<ExpectedExtent> extents;
    for (const MemoryRun& run : volume_->RunsOf(name))
      extents.push_back({run.vcn, run.vcn + run.length, run.lcn});
    return extents;
  }

  std::vector<uint8_t> ExpectedBitmap() override {
    std::vector<uint8_t> bitmap((ClusterCount() + 7) / 8, 0);
    for (uint64_t lcn = 0; lcn < ClusterCount(); ++lcn)
      if (volume_->IsUsed(static_cast<int64_t>(lcn))) bitmap[lcn / 8] |= 1 << (lcn % 8);
    return bitmap;
  }

  std::vector<uint8_t> ReadFileBytes(const std::string& name) override {
    std::vector<uint8_t> bytes;
    auto runs = volume_->RunsOf(name);
    int64_t clusters = runs.empty() ? 0 : runs.back().vcn + runs.back().length;
    for (int64_t vcn = 0; vcn < clusters; ++vcn) {
      uint64_t word = volume_->FileClusterContent(name, vcn);
      for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
    }
    return bytes;
  }

 private:
  static inline std::atomic<int> next_id_{0};
  std::string name_;
  std::shared_ptr<MemoryVolume> volume_;
};

INSTANTIATE_TEST_SUITE_P(Memory, VolumeConformance,
                         ::testing::Values(TargetFactory{"memory",
                                                         [] { return std::make_unique<MemoryTarget>(); }}),
                         TargetFactoryName);

}  // namespace
}  // namespace shardix::test
