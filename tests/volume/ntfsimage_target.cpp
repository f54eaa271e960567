// The conformance suite on NTFS images made by mkntfs and filled through the
// ntfs-3g driver; the oracles are ntfsinfo and ntfscat, read after the layer
// has let go of the image.
#ifdef _WIN32
#include <filesystem>
#else
#include <sys/statvfs.h>
#endif
#include <unistd.h>

#include <map>

#include "tests/volume/conformance.h"
#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

class NtfsImageTarget final : public VolumeTestTarget {
 public:
  explicit NtfsImageTarget(uint32_t cluster_size) {
    image_ = scratch_.path() + "/volume.img";
    // 32 MiB less one sector for the backup boot sector: the cluster count
    // is not a multiple of 8, so the bitmap's last byte is partial.
    if (!MakeNtfsImage(image_, 32u << 20, cluster_size)) {
      ADD_FAILURE() << "mkntfs failed for " << image_;
      return;
    }
    FillStandardFiles(cluster_size);
    facts_ = ReadImageFacts(image_);
    for (const char* name : {"contiguous", "fragmented", "empty", "resident", "sparse", "system"}) {
      ExpectedExtents(name);
      ReadFileBytes(name);
    }
    ExpectedBitmap();
  }

  std::string PathOf(const std::string& name) override { return image_ + InnerPath(name); }
  std::string VolumePath() override { return image_; }
  uint64_t ClusterCount() override { return facts_.cluster_count; }
  uint32_t ClusterSize() override { return facts_.cluster_size; }

  // The tools cannot read the image while the layer holds it (it is locked
  // for writing), so answers are kept until the next Flush; the suite asks
  // for fresh ones only after flushing.
  std::vector<ExpectedExtent> ExpectedExtents(const std::string& name) override {
    auto it = extents_.find(name);
    if (it == extents_.end()) it = extents_.emplace(name, NtfsinfoExtents(image_, InnerPath(name))).first;
    return it->second;
  }
  std::vector<uint8_t> ExpectedBitmap() override {
    if (bitmap_.empty()) bitmap_ = NtfscatBitmap(image_, ClusterCount());
    return bitmap_;
  }
  std::vector<uint8_t> ReadFileBytes(const std::string& name) override {
    auto it = bytes_.find(name);
    if (it == bytes_.end()) it = bytes_.emplace(name, NtfscatBytes(image_, InnerPath(name))).first;
    return it->second;
  }
  // The suite closes its handles before it flushes, and the mount is written
  // back when its last handle goes; what is left is to forget old answers.
  void Flush() override {
    extents_.clear();
    bitmap_.clear();
    bytes_.clear();
  }

 private:
  static std::string InnerPath(const std::string& name) {
    return name == "system" ? "/$MFT" : "/" + name;
  }

  void FillStandardFiles(uint32_t cluster) {
    FuseMount mount(image_, scratch_.path() + "/mnt");
    if (!mount.ok()) {
      ADD_FAILURE() << "ntfs-3g could not mount " << image_;
      return;
    }
    const std::string root = scratch_.path() + "/mnt/";
    bool ok = WriteWholeFile(root + "contiguous", PseudoRandomBytes(100 * cluster, 1));
    ok = ok && WriteWholeFile(root + "empty", {});
    ok = ok && WriteWholeFile(root + "resident", PseudoRandomBytes(300, 3));
    // Allocated, a hole of 16 clusters, allocated.
    ok = ok && WriteWholeFile(root + "sparse", PseudoRandomBytes(8 * cluster, 4));
    if (ok) {
      FILE* sparse = fopen((root + "sparse").c_str(), "r+b");
      ok = sparse && fseek(sparse, 24L * cluster, SEEK_SET) == 0;
      std::vector<uint8_t> tail = PseudoRandomBytes(8 * cluster, 5);
      ok = ok && fwrite(tail.data(), 1, tail.size(), sparse) == tail.size();
      ok = sparse && fclose(sparse) == 0 && ok;
    }
    // The driver's allocator does not fragment on request: leave it nothing
    // but holes of 10 clusters between pads, so a file of 42 clusters must
    // take five of them; then give the rest of the volume back.
    // Its record and those of the helpers exist before the volume is full.
    for (const char* name : {"fragmented", "rest"}) ok = ok && WriteWholeFile(root + name, {});
#ifdef _WIN32
    std::error_code space_error;
    const std::filesystem::space_info space = std::filesystem::space(root, space_error);
    ok = ok && !space_error;
    const uint64_t free_clusters = space.available / cluster;
#else
    struct statvfs space {};
    ok = ok && statvfs(root.c_str(), &space) == 0;
    const uint64_t free_clusters = space.f_bavail * space.f_frsize / cluster;
#endif
    if (ok && free_clusters > 300)
      ok = WriteWholeFile(root + "filler", std::vector<uint8_t>((free_clusters - 300) * cluster, 0xF1));
    // As many pads as fit (the folder's index takes some room too).
    int pads = 0;
    while (ok && pads < 24 &&
           WriteWholeFile(root + "pad" + std::to_string(pads), std::vector<uint8_t>(10 * cluster, 0xA5)))
      ++pads;
    ok = ok && pads >= 12;
    if (ok) {
      // Whatever else is free goes too, one cluster at a time.
      FILE* rest = fopen((root + "rest").c_str(), "ab");
      ok = rest != nullptr;
      const std::vector<uint8_t> one(cluster, 0x5A);
      while (ok && fwrite(one.data(), 1, one.size(), rest) == one.size() && fflush(rest) == 0) {
      }
      if (rest) fclose(rest);  // ENOSPC is the point here
    }
    for (int i = 0; ok && i < pads; i += 2) ok = unlink((root + "pad" + std::to_string(i)).c_str()) == 0;
    ok = ok && WriteWholeFile(root + "fragmented", PseudoRandomBytes(42 * cluster - 100, 10));
    for (const char* name : {"filler", "rest"}) ok = ok && unlink((root + name).c_str()) == 0;
    // Pad `pads` is the one that did not fit, if any.
    for (int i = 1; ok && i < pads; i += 2) ok = unlink((root + "pad" + std::to_string(i)).c_str()) == 0;
    unlink((root + "pad" + std::to_string(pads)).c_str());
    EXPECT_TRUE(ok) << "filling " << image_ << " through ntfs-3g failed";
    EXPECT_TRUE(mount.Unmount()) << "ntfs-3g did not end cleanly";
  }

  ScratchDir scratch_;
  std::string image_;
  ImageFacts facts_;
  std::map<std::string, std::vector<ExpectedExtent>> extents_;
  std::map<std::string, std::vector<uint8_t>> bytes_;
  std::vector<uint8_t> bitmap_;
};

INSTANTIATE_TEST_SUITE_P(
    NtfsImage, VolumeConformance,
    ::testing::Values(TargetFactory{"image4k", [] { return std::make_unique<NtfsImageTarget>(4096); }},
                      TargetFactory{"image512", [] { return std::make_unique<NtfsImageTarget>(512); }}),
    TargetFactoryName);

}  // namespace
}  // namespace shardix::test
