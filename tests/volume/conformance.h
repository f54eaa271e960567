// The volume layer's conformance suite, written once and run against every
// backend. A backend joins by providing a VolumeTestTarget factory and
// instantiating the suite with it:
//
//   INSTANTIATE_TEST_SUITE_P(Memory, VolumeConformance,
//                            ::testing::Values(TargetFactory{"memory", &MakeMemoryTarget}),
//                            TargetFactoryName);
//
// Each target makes a fresh volume holding the standard files below and
// answers the oracle questions from something independent of the backend
// under test (the memory volume's own model, or ntfsinfo/ntfscat for an
// image).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "volume/error_codes.h"
#include "volume/volume.h"

namespace shardix::test {

// Names of the standard files every target holds.
//   "contiguous"  one extent of at least 64 clusters
//   "fragmented"  at least 3 extents, no two adjacent on the volume
//   "empty"       0 bytes
//   "resident"    a few hundred bytes held in the file record
//   "sparse"      allocated, a hole, allocated
//   "system"      a file whose clusters may not be moved (ERROR_ACCESS_DENIED)
struct ExpectedExtent {
  int64_t vcn;
  int64_t next_vcn;
  int64_t lcn;  // -1 for a hole
  bool operator==(const ExpectedExtent&) const = default;
};

class VolumeTestTarget {
 public:
  virtual ~VolumeTestTarget() = default;

  // The path of a standard file, as OpenFileByPath takes it.
  virtual std::string PathOf(const std::string& name) = 0;
  // A path naming the volume itself (OpenVolumeByPath).
  virtual std::string VolumePath() = 0;

  // Independent oracles.
  virtual uint64_t ClusterCount() = 0;
  virtual uint32_t ClusterSize() = 0;
  virtual std::vector<ExpectedExtent> ExpectedExtents(const std::string& name) = 0;
  virtual std::vector<uint8_t> ExpectedBitmap() = 0;  // (ClusterCount()+7)/8 bytes
  virtual std::vector<uint8_t> ReadFileBytes(const std::string& name) = 0;

  // Ends every use of the volume through the layer (handles closed, written
  // back) so that the oracles see the final state.
  virtual void Flush() {}
};

using TargetMaker = std::function<std::unique_ptr<VolumeTestTarget>()>;
struct TargetFactory {
  std::string name;
  TargetMaker make;
};
inline void PrintTo(const TargetFactory& factory, std::ostream* out) { *out << factory.name; }
inline std::string TargetFactoryName(const ::testing::TestParamInfo<TargetFactory>& info) {
  return info.param.name;
}

// Helpers shared by the suites.
inline bool BitSet(const std::vector<uint8_t>& bitmap, uint64_t lcn) {
  return (bitmap[lcn / 8] >> (lcn % 8)) & 1;
}

// The suite's fixture; its tests live in conformance_test.cpp.
class VolumeConformance : public ::testing::TestWithParam<TargetFactory> {
 protected:
  void SetUp() override { target_ = GetParam().make(); }

  std::unique_ptr<Volume> OpenVolume() {
    std::unique_ptr<Volume> volume;
    EXPECT_EQ(OpenVolumeByPath(target_->VolumePath(), &volume), kErrorSuccess);
    return volume;
  }
  std::unique_ptr<VolumeFile> OpenFile(const std::string& name) {
    std::unique_ptr<VolumeFile> file;
    EXPECT_EQ(OpenFileByPath(target_->PathOf(name), &file), kErrorSuccess) << name;
    return file;
  }

  // The file's extents listed one query at a time, as the extent scan does.
  std::vector<ExpectedExtent> ListExtents(VolumeFile& file) {
    std::vector<ExpectedExtent> extents;
    int64_t vcn = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
      RetrievalPointersBuffer out;
      std::memset(&out, 0xCC, sizeof out);
      std::size_t returned = 0;
      uint32_t code = file.GetRetrievalPointers(vcn, &out, sizeof out, &returned);
      if (code == kErrorHandleEof) break;
      EXPECT_TRUE(code == kErrorSuccess || code == kErrorMoreData) << code;
      if (code != kErrorSuccess && code != kErrorMoreData) break;
      EXPECT_EQ(out.extent_count, 1u);
      EXPECT_EQ(out.starting_vcn, vcn);
      EXPECT_EQ(returned, sizeof out);
      extents.push_back({out.starting_vcn, out.extents[0].next_vcn, out.extents[0].lcn});
      if (code == kErrorSuccess) {
        // The last extent: the next query is past the end.
        RetrievalPointersBuffer after;
        std::memset(&after, 0x5A, sizeof after);
        EXPECT_EQ(file.GetRetrievalPointers(out.extents[0].next_vcn, &after, sizeof after, nullptr),
                  kErrorHandleEof);
        EXPECT_EQ(after.extent_count, 0x5A5A5A5Au) << "output must stay untouched at the end";
        break;
      }
      vcn = out.extents[0].next_vcn;
    }
    return extents;
  }

  std::vector<uint8_t> ReadWholeBitmap(Volume& volume) {
    uint64_t clusters = target_->ClusterCount();
    std::vector<uint8_t> buffer(kVolumeBitmapHeaderSize + clusters / 8 + 1, 0);
    std::size_t returned = 0;
    EXPECT_EQ(volume.GetVolumeBitmap(0, buffer.data(), buffer.size(), &returned), kErrorSuccess);
    EXPECT_EQ(returned, kVolumeBitmapHeaderSize + (clusters + 7) / 8);
    return std::vector<uint8_t>(buffer.begin() + kVolumeBitmapHeaderSize,
                                buffer.begin() + kVolumeBitmapHeaderSize + (clusters + 7) / 8);
  }

  // A free run of `length` clusters, from the end of the volume, with a
  // used cluster or the volume's end on both sides left alone.
  std::optional<int64_t> FreeRunNearEnd(const std::vector<uint8_t>& bitmap, int64_t length) {
    int64_t clusters = static_cast<int64_t>(target_->ClusterCount());
    int64_t run = 0;
    for (int64_t lcn = clusters - 2; lcn > 0; --lcn) {
      run = BitSet(bitmap, lcn) ? 0 : run + 1;
      if (run == length + 2) return lcn + 1;
    }
    return std::nullopt;
  }

  std::unique_ptr<VolumeTestTarget> target_;
};

}  // namespace shardix::test
