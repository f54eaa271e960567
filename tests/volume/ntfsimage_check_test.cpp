// The image consistency check, on clean images and on images damaged by
// writing their bytes directly; and the writer the demo fills images with.
#include <cstring>
#include <sstream>

#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/consistency_check.h"
#include "tests/support/image_writing.h"
#include "volume/ntfsimage/ntfs_image.h"

namespace shardix::test {
namespace {

class ConsistencyCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = scratch_.path() + "/volume.img";
    ASSERT_TRUE(MakeNtfsImage(image_, 16u << 20, 4096));
    std::string error;
    ASSERT_EQ(WriteFileToImage(image_, "/a.bin", PseudoRandomBytes(12 * 4096, 1), &error),
              kErrorSuccess)
        << error;
    ASSERT_EQ(WriteFileToImage(image_, "/b.bin", PseudoRandomBytes(6 * 4096, 2), &error),
              kErrorSuccess)
        << error;
    facts_ = ReadImageFacts(image_);
    a_ = NtfsinfoExtents(image_, "/a.bin");
    b_ = NtfsinfoExtents(image_, "/b.bin");
    ASSERT_EQ(a_.size(), 1u);
    ASSERT_EQ(b_.size(), 1u);
  }

  ConsistencyReport Check() {
    ConsistencyReport report;
    EXPECT_EQ(CheckImageConsistency(image_, &report), kErrorSuccess);
    return report;
  }

  std::string Text(const ConsistencyReport& report) {
    std::ostringstream text;
    WriteConsistencyReport(report, text);
    return text.str();
  }

  // Sets or clears one cluster's bit in the on-disk $Bitmap.
  void SetBitmapBit(int64_t lcn, bool used) {
    const auto bitmap_runs = NtfsinfoExtents(image_, "/$Bitmap");
    ASSERT_FALSE(bitmap_runs.empty());
    const uint64_t offset = bitmap_runs[0].lcn * facts_.cluster_size + lcn / 8;
    std::vector<uint8_t> image = ReadHostFile(image_);
    uint8_t byte = image[offset];
    byte = used ? byte | (1 << (lcn % 8)) : byte & ~(1 << (lcn % 8));
    ASSERT_TRUE(WriteHostBytes(image_, offset, {byte}));
  }

  ScratchDir scratch_;
  std::string image_;
  ImageFacts facts_;
  std::vector<ExpectedExtent> a_, b_;
};

TEST_F(ConsistencyCheckTest, FreshAndWrittenImagesAreClean) {
  ConsistencyReport report = Check();
  EXPECT_TRUE(report.clean()) << Text(report);
  EXPECT_EQ(report.total_clusters, facts_.cluster_count);
  EXPECT_EQ(report.marked_used, report.owned);
  EXPECT_GE(report.records_checked, 18u);
  EXPECT_NE(Text(report).find("Result: clean"), std::string::npos);

  // Files written and deleted through the writer leave it clean too.
  std::string error;
  ASSERT_EQ(DeleteFileFromImage(image_, "/a.bin", &error), kErrorSuccess) << error;
  EXPECT_TRUE(NtfscatBytes(image_, "/a.bin").empty());
  EXPECT_TRUE(NtfscatBytes(image_, "/b.bin") == PseudoRandomBytes(6 * 4096, 2));
  report = Check();
  EXPECT_TRUE(report.clean()) << Text(report);
  EXPECT_EQ(DeleteFileFromImage(image_, "/a.bin", &error), kErrorFileNotFound);
  EXPECT_NE(error.find("a.bin"), std::string::npos);
}

TEST_F(ConsistencyCheckTest, ClustersMarkedWronglyInTheBitmapAreReported) {
  ASSERT_NO_FATAL_FAILURE(SetBitmapBit(a_[0].lcn + 3, false));
  const int64_t free_lcn = static_cast<int64_t>(facts_.cluster_count) - 100;
  ASSERT_NO_FATAL_FAILURE(SetBitmapBit(free_lcn, true));
  ConsistencyReport report = Check();
  EXPECT_FALSE(report.clean());
  EXPECT_EQ(report.unmarked_clusters, 1u);
  ASSERT_EQ(report.unmarked.size(), 1u);
  EXPECT_EQ(report.unmarked[0].lcn, a_[0].lcn + 3);
  EXPECT_EQ(report.leaked_clusters, 1u);
  ASSERT_EQ(report.leaked.size(), 1u);
  EXPECT_EQ(report.leaked[0].lcn, free_lcn);
  EXPECT_EQ(report.cross_linked_clusters, 0u);
  const std::string text = Text(report);
  EXPECT_NE(text.find("in use but marked free: 1 clusters"), std::string::npos) << text;
  EXPECT_EQ(text.find("Result: clean"), std::string::npos);
}

TEST_F(ConsistencyCheckTest, CrossLinkedClustersNameBothFiles) {
  // Point b.bin's only run at a.bin's clusters by rewriting the LCN in its
  // mapping pairs, in the same number of bytes.
  const int64_t record = NtfsinfoRecordNumber(image_, "/b.bin");
  ASSERT_GT(record, 15);
  const uint64_t base = facts_.mft_lcn * facts_.cluster_size + record * 1024;
  std::vector<uint8_t> image = ReadHostFile(image_);
  const uint8_t* m = image.data() + base;
  ASSERT_EQ(std::memcmp(m, "FILE", 4), 0);
  uint32_t offset = m[0x14] | (m[0x15] << 8);
  uint64_t lcn_at = 0;
  int lcn_bytes = 0;
  for (;;) {
    uint32_t type, length;
    std::memcpy(&type, m + offset, 4);
    std::memcpy(&length, m + offset + 4, 4);
    ASSERT_NE(type, 0xFFFFFFFFu) << "no non-resident $DATA";
    if (type == 0x80 && m[offset + 8] && m[offset + 9] == 0) {
      const uint32_t pairs = offset + (m[offset + 0x20] | (m[offset + 0x21] << 8));
      lcn_bytes = m[pairs] >> 4;
      lcn_at = base + pairs + 1 + (m[pairs] & 0xF);
      break;
    }
    offset += length;
  }
  ASSERT_LT(lcn_at - base + lcn_bytes, 510u) << "would touch an update sequence position";
  ASSERT_LT(a_[0].lcn, int64_t{1} << (8 * lcn_bytes - 1)) << "a.bin's LCN does not fit";
  std::vector<uint8_t> lcn(lcn_bytes);
  for (int i = 0; i < lcn_bytes; ++i) lcn[i] = static_cast<uint8_t>(a_[0].lcn >> (8 * i));
  ASSERT_TRUE(WriteHostBytes(image_, lcn_at, lcn));

  ConsistencyReport report = Check();
  EXPECT_FALSE(report.clean());
  EXPECT_EQ(report.cross_linked_clusters, static_cast<uint64_t>(b_[0].next_vcn));
  ASSERT_EQ(report.cross_linked.size(), 1u);
  EXPECT_EQ(report.cross_linked[0].lcn, a_[0].lcn);
  std::vector<uint64_t> owners = report.cross_linked[0].owners;
  std::sort(owners.begin(), owners.end());
  EXPECT_EQ(owners, (std::vector<uint64_t>{static_cast<uint64_t>(NtfsinfoRecordNumber(image_, "/a.bin")),
                                           static_cast<uint64_t>(record)}));
  // b.bin's own clusters are now owned by nobody.
  EXPECT_EQ(report.leaked_clusters, static_cast<uint64_t>(b_[0].next_vcn));
  EXPECT_NE(Text(report).find("Cross-linked clusters: "), std::string::npos);
}

TEST_F(ConsistencyCheckTest, RefusesAnImageThisProcessHasOpenForWriting) {
  std::unique_ptr<Volume> volume;
  ASSERT_EQ(OpenImageVolume(image_, &volume), kErrorSuccess);
  ConsistencyReport report;
  EXPECT_EQ(CheckImageConsistency(image_, &report), kErrorSharingViolation);
  volume.reset();
  EXPECT_EQ(CheckImageConsistency(image_, &report), kErrorSuccess);
  EXPECT_EQ(CheckImageConsistency(scratch_.path() + "/none.img", &report), kErrorFileNotFound);
}

}  // namespace
}  // namespace shardix::test
