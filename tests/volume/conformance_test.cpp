// What every backend of the volume layer must answer, checked against each
// target's independent oracles (see conformance.h).
#include <cstring>

#include "tests/volume/conformance.h"
#include "volume/error_codes.h"

namespace shardix::test {
namespace {

TEST_P(VolumeConformance, BitmapHeaderProbeGivesClusterCount) {
  auto volume = OpenVolume();
  ASSERT_TRUE(volume);
  VolumeBitmapBuffer probe;
  std::memset(&probe, 0xCC, sizeof probe);
  std::size_t returned = 0;
  uint32_t code = volume->GetVolumeBitmap(0, &probe, sizeof probe, &returned);
  EXPECT_EQ(code, target_->ClusterCount() > 64 ? kErrorMoreData : kErrorSuccess);
  EXPECT_EQ(probe.starting_lcn, 0);
  EXPECT_EQ(static_cast<uint64_t>(probe.bitmap_size), target_->ClusterCount());
  EXPECT_EQ(returned, sizeof probe);

  std::vector<uint8_t> tiny(sizeof probe - 1);
  EXPECT_EQ(volume->GetVolumeBitmap(0, tiny.data(), tiny.size(), &returned),
            kErrorInsufficientBuffer);
}

TEST_P(VolumeConformance, FullBitmapMatchesOracleWithLastPartialByte) {
  auto volume = OpenVolume();
  ASSERT_TRUE(volume);
  std::vector<uint8_t> bitmap = ReadWholeBitmap(*volume);
  volume.reset();
  target_->Flush();
  std::vector<uint8_t> expected = target_->ExpectedBitmap();
  ASSERT_EQ(bitmap.size(), expected.size());
  EXPECT_TRUE(bitmap == expected);
  uint64_t clusters = target_->ClusterCount();
  if (clusters % 8) {
    uint8_t past_end = static_cast<uint8_t>(0xFF << (clusters % 8));
    EXPECT_EQ(bitmap.back() & past_end, 0) << "bits past the last cluster must be clear";
  }
}

TEST_P(VolumeConformance, BitmapFromUnalignedStartRoundsDownAndShortBufferSaysMore) {
  auto volume = OpenVolume();
  ASSERT_TRUE(volume);
  std::vector<uint8_t> whole = ReadWholeBitmap(*volume);
  std::vector<uint8_t> buffer(kVolumeBitmapHeaderSize + 8, 0);
  std::size_t returned = 0;
  EXPECT_EQ(volume->GetVolumeBitmap(13, buffer.data(), buffer.size(), &returned), kErrorMoreData);
  int64_t header[2];
  std::memcpy(header, buffer.data(), sizeof header);
  EXPECT_EQ(header[0], 8);
  EXPECT_EQ(static_cast<uint64_t>(header[1]), target_->ClusterCount() - 8);
  EXPECT_EQ(returned, buffer.size());
  for (int i = 0; i < 8; ++i) EXPECT_EQ(buffer[kVolumeBitmapHeaderSize + i], whole[1 + i]);

  EXPECT_EQ(volume->GetVolumeBitmap(static_cast<int64_t>(target_->ClusterCount()), buffer.data(),
                                    buffer.size(), &returned),
            kErrorInvalidParameter);
  EXPECT_EQ(volume->GetVolumeBitmap(-8, buffer.data(), buffer.size(), &returned),
            kErrorInvalidParameter);
}

TEST_P(VolumeConformance, ExtentsOneAtATimeMatchOracle) {
  for (const char* name : {"contiguous", "fragmented", "sparse"}) {
    auto file = OpenFile(name);
    ASSERT_TRUE(file);
    std::vector<ExpectedExtent> listed = ListExtents(*file);
    file.reset();
    target_->Flush();
    EXPECT_EQ(listed, target_->ExpectedExtents(name)) << name;
  }
  auto contiguous = target_->ExpectedExtents("contiguous");
  ASSERT_EQ(contiguous.size(), 1u);
  EXPECT_GE(contiguous[0].next_vcn, 64);
  EXPECT_GE(target_->ExpectedExtents("fragmented").size(), 3u);
  bool has_hole = false;
  for (const ExpectedExtent& extent : target_->ExpectedExtents("sparse"))
    has_hole = has_hole || extent.lcn == -1;
  EXPECT_TRUE(has_hole);
}

TEST_P(VolumeConformance, ExtentQueryInsideAnExtentReportsItsStart) {
  auto expected = target_->ExpectedExtents("fragmented");
  ASSERT_GE(expected.size(), 2u);
  auto file = OpenFile("fragmented");
  ASSERT_TRUE(file);
  const ExpectedExtent& second = expected[1];
  RetrievalPointersBuffer out{};
  EXPECT_EQ(file->GetRetrievalPointers(second.next_vcn - 1, &out, sizeof out, nullptr),
            expected.size() > 2 ? kErrorMoreData : kErrorSuccess);
  EXPECT_EQ(out.starting_vcn, second.vcn);
  EXPECT_EQ(out.extents[0].next_vcn, second.next_vcn);
  EXPECT_EQ(out.extents[0].lcn, second.lcn);

  // A larger buffer takes several extents at once.
  std::vector<uint8_t> big(kRetrievalPointersHeaderSize + 16 * expected.size());
  std::size_t returned = 0;
  EXPECT_EQ(file->GetRetrievalPointers(0, big.data(), big.size(), &returned), kErrorSuccess);
  uint32_t count;
  std::memcpy(&count, big.data(), 4);
  EXPECT_EQ(count, expected.size());
  EXPECT_EQ(returned, big.size());
}

TEST_P(VolumeConformance, EmptyAndResidentFilesAnswerEndOfFile) {
  for (const char* name : {"empty", "resident"}) {
    auto file = OpenFile(name);
    ASSERT_TRUE(file);
    RetrievalPointersBuffer out;
    std::memset(&out, 0x77, sizeof out);
    EXPECT_EQ(file->GetRetrievalPointers(0, &out, sizeof out, nullptr), kErrorHandleEof) << name;
    EXPECT_EQ(out.extent_count, 0x77777777u) << name;
    uint64_t size = 1;
    EXPECT_EQ(file->GetSize(&size), kErrorSuccess);
    EXPECT_EQ(size == 0, std::string(name) == "empty") << name;
  }
}

TEST_P(VolumeConformance, MoveKeepsDataAndUpdatesExtentsAndBitmap) {
  std::vector<uint8_t> before = target_->ReadFileBytes("fragmented");
  auto extents = target_->ExpectedExtents("fragmented");
  ASSERT_GE(extents.size(), 3u);
  const ExpectedExtent& second = extents[1];
  int64_t length = second.next_vcn - second.vcn;
  std::vector<ExpectedExtent> listed;
  {
    auto volume = OpenVolume();
    auto file = OpenFile("fragmented");
    ASSERT_TRUE(volume && file);
    auto target = FreeRunNearEnd(ReadWholeBitmap(*volume), length);
    ASSERT_TRUE(target.has_value());
    ASSERT_EQ(volume->MoveClusters(*file, second.vcn, *target, static_cast<uint32_t>(length)),
              kErrorSuccess);
    listed = ListExtents(*file);
    ASSERT_EQ(listed.size(), extents.size());
    EXPECT_EQ(listed[1], (ExpectedExtent{second.vcn, second.next_vcn, *target}));
    EXPECT_EQ(listed[0], extents[0]);
    EXPECT_EQ(listed[2], extents[2]);
    std::vector<uint8_t> bitmap = ReadWholeBitmap(*volume);
    for (int64_t i = 0; i < length; ++i) EXPECT_TRUE(BitSet(bitmap, *target + i));
  }
  target_->Flush();
  EXPECT_EQ(target_->ExpectedExtents("fragmented"), listed);
  std::vector<uint8_t> after = target_->ReadFileBytes("fragmented");
  EXPECT_TRUE(before == after) << "moved data differs";
  std::vector<uint8_t> bitmap = target_->ExpectedBitmap();
  for (int64_t i = 0; i < length; ++i) EXPECT_FALSE(BitSet(bitmap, second.lcn + i));
}

TEST_P(VolumeConformance, RefusedMovesChangeNothing) {
  auto extents = target_->ExpectedExtents("fragmented");
  ASSERT_GE(extents.size(), 3u);
  auto sparse = target_->ExpectedExtents("sparse");
  std::vector<uint8_t> bitmap_before = target_->ExpectedBitmap();
  int64_t clusters = static_cast<int64_t>(target_->ClusterCount());
  // Every oracle answer is taken before the layer holds the volume open.
  auto other = target_->ExpectedExtents("contiguous");
  ASSERT_FALSE(other.empty());
  {
    auto volume = OpenVolume();
    auto file = OpenFile("fragmented");
    auto sparse_file = OpenFile("sparse");
    auto system = OpenFile("system");
    ASSERT_TRUE(volume && file && sparse_file && system);
    auto free_run = FreeRunNearEnd(ReadWholeBitmap(*volume), 4);
    ASSERT_TRUE(free_run.has_value());
    int64_t allocated = extents.back().next_vcn;

    // The target is taken: by the file's own next extent, and by another file.
    EXPECT_EQ(volume->MoveClusters(*file, 0, extents[1].lcn, 1), kErrorAccessDenied);
    EXPECT_EQ(volume->MoveClusters(*file, 0, other[0].lcn, 1), kErrorAccessDenied);
    // Files the file system will not move.
    EXPECT_EQ(volume->MoveClusters(*system, 0, *free_run, 1), kErrorAccessDenied);
    // Requests that make no sense.
    EXPECT_EQ(volume->MoveClusters(*file, 0, *free_run, 0), kErrorInvalidParameter);
    EXPECT_EQ(volume->MoveClusters(*file, 0, clusters - 1, 2), kErrorInvalidParameter);
    EXPECT_EQ(volume->MoveClusters(*file, 0, -4, 1), kErrorInvalidParameter);
    EXPECT_EQ(volume->MoveClusters(*file, allocated - 1, *free_run, 2), kErrorInvalidParameter);
    EXPECT_EQ(volume->MoveClusters(*file, allocated, *free_run, 1), kErrorInvalidParameter);
    for (const ExpectedExtent& extent : sparse) {
      if (extent.lcn == -1) {
        EXPECT_EQ(volume->MoveClusters(*sparse_file, extent.vcn, *free_run, 1), kErrorInvalidParameter);
      }
    }
    EXPECT_EQ(ListExtents(*file), extents);
  }
  target_->Flush();
  EXPECT_EQ(target_->ExpectedExtents("fragmented"), extents);
  EXPECT_EQ(target_->ExpectedExtents("sparse"), sparse);
  EXPECT_TRUE(target_->ExpectedBitmap() == bitmap_before);
}

TEST_P(VolumeConformance, FilesOfOneVolumeOnlyMoveThroughIt) {
  auto volume = OpenVolume();
  ASSERT_TRUE(volume);
  std::unique_ptr<VolumeFile> missing;
  EXPECT_EQ(OpenFileByPath(target_->PathOf("no-such-file"), &missing), kErrorFileNotFound);
  EXPECT_FALSE(missing);
  uint32_t sectors_per_cluster = 0, bytes_per_sector = 0;
  ASSERT_EQ(volume->GetClusterSize(&sectors_per_cluster, &bytes_per_sector), kErrorSuccess);
  EXPECT_EQ(sectors_per_cluster * bytes_per_sector, target_->ClusterSize());
  // The free count, taken after the cluster size, is the bitmap's.
  VolumeGeometry geometry;
  ASSERT_EQ(volume->GetGeometry(&geometry), kErrorSuccess);
  EXPECT_EQ(geometry.sectors_per_cluster, sectors_per_cluster);
  EXPECT_EQ(geometry.bytes_per_sector, bytes_per_sector);
  EXPECT_EQ(geometry.total_clusters, target_->ClusterCount());
  uint64_t free_in_bitmap = 0;
  std::vector<uint8_t> bitmap = ReadWholeBitmap(*volume);
  for (uint64_t i = 0; i < target_->ClusterCount(); ++i) free_in_bitmap += !BitSet(bitmap, i);
  EXPECT_EQ(geometry.free_clusters, free_in_bitmap);
}

}  // namespace
}  // namespace shardix::test
