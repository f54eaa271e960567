// Defragmenting on a real NTFS image: a file split into 2 000 pieces is
// gathered into one, with its bytes and the volume intact.
#include <gtest/gtest.h>

#include <sstream>

#include "analysis/analyze_file.h"
#include "defrag/defragment_job.h"
#include "report/volume_analysis.h"
#include "tests/support/recording_display.h"
#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/consistency_check.h"

namespace shardix::test {
namespace {

// The first free run of `length` clusters at or after `from`.
int64_t FindFree(const std::vector<uint8_t>& bitmap, uint64_t clusters, int64_t from, int64_t length) {
  int64_t run = 0;
  for (int64_t lcn = from; lcn < static_cast<int64_t>(clusters); ++lcn) {
    run = BitSet(bitmap, lcn) ? 0 : run + 1;
    if (run == length) return lcn - length + 1;
  }
  return -1;
}

TEST(NtfsImageDefragment, TwoThousandPiecesBecomeOneFragment) {
  ScratchDir scratch;
  const std::string image = scratch.path() + "/volume.img";
  const std::vector<uint8_t> content = PseudoRandomBytes(8u << 20, 5);  // 2048 clusters
  ASSERT_TRUE(MakeNtfsImage(image, 64u << 20, 4096));
  {
    FuseMount mount(image, scratch.path() + "/mnt");
    ASSERT_TRUE(mount.ok());
    ASSERT_TRUE(WriteWholeFile(scratch.path() + "/mnt/big.bin", content));
    ASSERT_TRUE(mount.Unmount());
  }
  const ImageFacts facts = ReadImageFacts(image);
  const int64_t clusters = static_cast<int64_t>(content.size() / facts.cluster_size);
  const int64_t pieces = 2000;

  FileSession session;
  RecordingDisplay display;
  ASSERT_TRUE(AnalyzeFile(session, image + "/big.bin", display));
  {
    // 2 000 pieces, each one cluster apart from the next, from a quarter
    // into the volume.
    int64_t vcn = 0, cursor = static_cast<int64_t>(facts.cluster_count) / 4;
    for (int64_t i = 0; i < pieces; ++i) {
      const int64_t length = clusters / pieces + (i < clusters % pieces ? 1 : 0);
      const int64_t target = FindFree(ReadBitmapThrough(*session.volume, facts.cluster_count),
                                      facts.cluster_count, cursor, length);
      ASSERT_GE(target, 0);
      ASSERT_EQ(session.volume->MoveClusters(*session.file, vcn, target, static_cast<uint32_t>(length)),
                kErrorSuccess);
      vcn += length;
      cursor = target + length + 1;
    }
  }
  ASSERT_TRUE(AnalyzeFile(session, image + "/big.bin", display));
  ASSERT_EQ(display.rows.size(), static_cast<std::size_t>(pieces));
  FreeRun longest;
  ASSERT_EQ(AnalyzeVolume(session.volume.get(), display, VolumeAnalysisMode::kQuiet, nullptr,
                          &longest, 1),
            0);
  ASSERT_GE(longest.length, static_cast<uint64_t>(clusters)) << "the layout leaves no run long enough";

  JobContext context{session.volume.get(), session.file.get(), &display, nullptr, nullptr};
  EXPECT_EQ(RunDefragmentJob(context, session), 0);
  EXPECT_EQ(display.status, "File was successfully defragmented!");
  ASSERT_EQ(display.rows.size(), 1u);
  EXPECT_EQ(display.rows[0].lcn, longest.lcn);
  EXPECT_EQ(display.progress, static_cast<uint32_t>(clusters));
  EXPECT_TRUE(display.boxes.empty());
  session = FileSession{};  // closes the image

  EXPECT_TRUE(NtfscatBytes(image, "/big.bin") == content) << "data changed by defragmenting";
  ConsistencyReport report;
  ASSERT_EQ(CheckImageConsistency(image, &report), kErrorSuccess);
  std::ostringstream text;
  WriteConsistencyReport(report, text);
  EXPECT_TRUE(report.clean()) << text.str();
}

}  // namespace
}  // namespace shardix::test
