// The extent scan over arbitrary answers: a file whose every query returns
// what the input says (codes, starting VCNs, extents), and a volume whose
// bitmap probe does too. The walk must end, and never overflow or read past
// an answer.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "analysis/extent_scan.h"
#include "fuzz/fuzz_input.h"
#include "tests/support/recording_display.h"
#include "volume/error_codes.h"
#include "volume/volume.h"

namespace {

using shardix::fuzz::FuzzInput;

constexpr uint32_t kCodes[] = {shardix::kErrorSuccess, shardix::kErrorMoreData,
                               shardix::kErrorHandleEof, shardix::kErrorFileCorrupt};

class AnswerFile : public shardix::VolumeFile {
 public:
  explicit AnswerFile(FuzzInput& input) : input_(input) {}
  uint32_t GetSize(uint64_t* size) override {
    *size = input_.Take<uint64_t>();
    return input_.Take<uint8_t>() % 8 == 0 ? shardix::kErrorInvalidHandle : shardix::kErrorSuccess;
  }
  uint32_t GetRetrievalPointers(int64_t, void* out, std::size_t out_size,
                                std::size_t* bytes_returned) override {
    if (input_.empty()) return shardix::kErrorHandleEof;  // every walk has an end
    const uint32_t code = kCodes[input_.Take<uint8_t>() % 4];
    const std::size_t room = (out_size - shardix::kRetrievalPointersHeaderSize) /
                             sizeof(shardix::RetrievalExtent);
    const uint32_t count = static_cast<uint32_t>(1 + input_.Take<uint8_t>() % room);
    auto* bytes = static_cast<uint8_t*>(out);
    std::memset(bytes, 0, out_size);
    std::memcpy(bytes, &count, sizeof count);
    const int64_t starting_vcn = input_.Take<int64_t>();
    std::memcpy(bytes + offsetof(shardix::RetrievalPointersBuffer, starting_vcn), &starting_vcn,
                sizeof starting_vcn);
    for (uint32_t i = 0; i < count; ++i) {
      const shardix::RetrievalExtent extent{input_.Take<int64_t>(), input_.Take<int64_t>()};
      std::memcpy(bytes + shardix::kRetrievalPointersHeaderSize + i * sizeof extent, &extent,
                  sizeof extent);
    }
    if (bytes_returned)
      *bytes_returned = shardix::kRetrievalPointersHeaderSize + count * sizeof(shardix::RetrievalExtent);
    return code;
  }

 private:
  FuzzInput& input_;
};

class ProbeVolume : public shardix::Volume {
 public:
  explicit ProbeVolume(FuzzInput& input) : input_(input) {}
  uint32_t GetVolumeBitmap(int64_t, void* out, std::size_t out_size, std::size_t*) override {
    const int64_t header[2] = {0, input_.Take<int64_t>()};
    std::memcpy(out, header, std::min(out_size, sizeof header));
    return input_.Take<uint8_t>() % 2 ? shardix::kErrorMoreData : shardix::kErrorSuccess;
  }
  uint32_t MoveClusters(shardix::VolumeFile&, int64_t, int64_t, uint32_t) override {
    return shardix::kErrorAccessDenied;
  }
  uint32_t GetGeometry(shardix::VolumeGeometry*) override { return shardix::kErrorNotSupported; }
  std::string DisplayName() const override { return "fuzz"; }

 private:
  FuzzInput& input_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  AnswerFile file(input);
  ProbeVolume volume(input);
  shardix::test::RecordingDisplay display;
  shardix::ScanResults results;
  shardix::ScanFileExtents(&file, input.Take<uint8_t>() % 2 ? &volume : nullptr, display, &results);
  return 0;
}
