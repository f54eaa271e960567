// The NTFS image backend on real file systems: files split into thousands of
// pieces and gathered back, refusals that change nothing, a volume too full
// for the file record to grow, shared mounts and the errors of opening.
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/consistency_check.h"
#include "volume/ntfsimage/ntfs_image.h"

namespace shardix::test {
namespace {

class NtfsImageTest : public ::testing::Test {
 protected:
  // A fresh image with the given files written through the ntfs-3g driver.
  void MakeImage(uint64_t bytes, uint32_t cluster,
                 const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
    image_ = scratch_.path() + "/volume.img";
    ASSERT_TRUE(MakeNtfsImage(image_, bytes, cluster));
    FuseMount mount(image_, scratch_.path() + "/mnt");
    ASSERT_TRUE(mount.ok()) << "ntfs-3g could not mount the image";
    for (const auto& [name, content] : files) {
      if (name.back() == '/') {
        ASSERT_TRUE(std::filesystem::create_directory(scratch_.path() + "/mnt/" + name));
      } else {
        ASSERT_TRUE(WriteWholeFile(scratch_.path() + "/mnt/" + name, content)) << name;
      }
    }
    ASSERT_TRUE(mount.Unmount());
    facts_ = ReadImageFacts(image_);
    ASSERT_GT(facts_.cluster_count, 0u);
  }

  void ExpectClean() {
    ConsistencyReport report;
    ASSERT_EQ(CheckImageConsistency(image_, &report), kErrorSuccess);
    std::ostringstream text;
    WriteConsistencyReport(report, text);
    EXPECT_TRUE(report.clean()) << text.str();
  }

  // The first free run of `length` clusters at or after `from`, wrapping
  // round to the start of the volume once.
  int64_t FindFree(const std::vector<uint8_t>& bitmap, int64_t from, int64_t length) {
    const int64_t clusters = static_cast<int64_t>(facts_.cluster_count);
    for (int pass = 0; pass < 2; ++pass) {
      int64_t run = 0;
      for (int64_t lcn = pass ? 1 : from; lcn < clusters; ++lcn) {
        run = BitSet(bitmap, lcn) ? 0 : run + 1;
        if (run == length) return lcn - length + 1;
      }
    }
    return -1;
  }

  void SplitUntilFull(uint64_t image_bytes, int64_t file_clusters, int64_t pieces, bool fill_records);

  ScratchDir scratch_;
  std::string image_;
  ImageFacts facts_;
};

// Moves the file's clusters, in VCN order, into `pieces` extents spread over
// the volume with gaps between them, so that no two of them join.
void Scatter(Volume& volume, VolumeFile& file, int64_t clusters,
             int64_t pieces, uint64_t volume_clusters,
             const std::function<int64_t(const std::vector<uint8_t>&, int64_t, int64_t)>& find) {
  const int64_t base = clusters / pieces, extra = clusters % pieces;
  const int64_t spread = static_cast<int64_t>(volume_clusters) * 3 / 4 - 2 * clusters;
  const int64_t max_gap = std::max<int64_t>(1, spread / pieces);
  int64_t cursor = static_cast<int64_t>(volume_clusters) / 4;
  uint32_t noise = 12345;
  int64_t vcn = 0;
  for (int64_t i = 0; i < pieces; ++i) {
    const int64_t length = base + (i < extra ? 1 : 0);
    uint32_t code = kErrorAccessDenied;
    // A target can be taken meanwhile by the MFT growing; choose again then.
    for (int attempt = 0; attempt < 8 && code == kErrorAccessDenied; ++attempt) {
      const int64_t target = find(ReadBitmapThrough(volume, volume_clusters), cursor, length);
      ASSERT_GE(target, 0) << "no free run for piece " << i;
      code = volume.MoveClusters(file, vcn, target, static_cast<uint32_t>(length));
      noise = noise * 1103515245u + 12345u;
      cursor = target + length + 1 + static_cast<int64_t>((noise >> 16) % max_gap);
    }
    ASSERT_EQ(code, kErrorSuccess) << "piece " << i << " at VCN " << vcn;
    vcn += length;
  }
}

TEST_F(NtfsImageTest, FileSplitIntoThousandsOfPiecesAndGatheredBackStaysIntact) {
  const std::vector<uint8_t> content = PseudoRandomBytes(20u << 20, 77);
  ASSERT_NO_FATAL_FAILURE(MakeImage(128u << 20, 4096, {{"big.bin", content}}));
  const int64_t clusters = static_cast<int64_t>(content.size() / facts_.cluster_size);
  auto find = [this](const std::vector<uint8_t>& bitmap, int64_t from, int64_t length) {
    return FindFree(bitmap, from, length);
  };

  for (int64_t pieces : {100, 2000, 5000}) {
    SCOPED_TRACE(pieces);
    std::vector<ExpectedExtent> listed;
    {
      std::unique_ptr<Volume> volume;
      std::unique_ptr<VolumeFile> file;
      ASSERT_EQ(OpenImageVolume(image_, &volume), kErrorSuccess);
      ASSERT_EQ(OpenImageFile(image_, "/big.bin", &file), kErrorSuccess);
      ASSERT_NO_FATAL_FAILURE(
          Scatter(*volume, *file, clusters, pieces, facts_.cluster_count, find));
      const auto started = std::chrono::steady_clock::now();
      listed = ListExtentsOneByOne(*file);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      EXPECT_EQ(static_cast<int64_t>(listed.size()), pieces);
      EXPECT_LT(seconds, 1.0) << "listing one extent per call must stay fast";
    }
    EXPECT_EQ(NtfsinfoExtents(image_, "/big.bin"), listed);
    EXPECT_TRUE(NtfscatBytes(image_, "/big.bin") == content) << "data changed by the split";
    ASSERT_NO_FATAL_FAILURE(ExpectClean());

    {
      std::unique_ptr<Volume> volume;
      std::unique_ptr<VolumeFile> file;
      ASSERT_EQ(OpenImageVolume(image_, &volume), kErrorSuccess);
      ASSERT_EQ(OpenImageFile(image_, "/big.bin", &file), kErrorSuccess);
      const int64_t target = FindFree(ReadBitmapThrough(*volume, facts_.cluster_count), 1, clusters);
      ASSERT_GE(target, 0);
      for (const ExpectedExtent& extent : listed)
        ASSERT_EQ(volume->MoveClusters(*file, extent.vcn, target + extent.vcn,
                                   static_cast<uint32_t>(extent.next_vcn - extent.vcn)),
                  kErrorSuccess);
      listed = ListExtentsOneByOne(*file);
      EXPECT_EQ(listed, (std::vector<ExpectedExtent>{{0, clusters, target}}));
    }
    EXPECT_EQ(NtfsinfoExtents(image_, "/big.bin"), listed);
    EXPECT_TRUE(NtfscatBytes(image_, "/big.bin") == content) << "data changed by the gathering";
    ASSERT_NO_FATAL_FAILURE(ExpectClean());
  }
}

TEST_F(NtfsImageTest, RefusedMovesLeaveTheImageByteForByte) {
  ASSERT_NO_FATAL_FAILURE(MakeImage(32u << 20, 4096,
                                    {{"a.bin", PseudoRandomBytes(64 * 4096, 1)},
                                     {"b.bin", PseudoRandomBytes(16 * 4096, 2)},
                                     {"dir/", {}}}));
  const auto a = NtfsinfoExtents(image_, "/a.bin");
  const auto b = NtfsinfoExtents(image_, "/b.bin");
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  {
    // A first read-write mount may tidy the image (the log is reset); only
    // what the refused moves do matters.
    std::unique_ptr<Volume> volume;
    ASSERT_EQ(OpenImageVolume(image_, &volume), kErrorSuccess);
  }
  const std::vector<uint8_t> before = ReadHostFile(image_);
  {
    std::unique_ptr<Volume> volume;
    std::unique_ptr<VolumeFile> file, directory, mft;
    ASSERT_EQ(OpenImageVolume(image_, &volume), kErrorSuccess);
    ASSERT_EQ(OpenImageFile(image_, "/a.bin", &file), kErrorSuccess);
    ASSERT_EQ(OpenImageFile(image_, "/dir", &directory), kErrorSuccess);
    ASSERT_EQ(OpenImageFile(image_, "/$MFT", &mft), kErrorSuccess);
    const int64_t free_lcn = FindFree(ReadBitmapThrough(*volume, facts_.cluster_count),
                                      static_cast<int64_t>(facts_.cluster_count) / 2, 8);
    ASSERT_GE(free_lcn, 0);
    // Overlapping itself, and onto another file.
    EXPECT_EQ(volume->MoveClusters(*file, 0, a[0].lcn + 4, 8), kErrorAccessDenied);
    EXPECT_EQ(volume->MoveClusters(*file, 0, b[0].lcn + 15, 2), kErrorAccessDenied);
    // Partly free target: the last cluster is taken.
    EXPECT_EQ(volume->MoveClusters(*file, 0, b[0].lcn - 4, 5),
              b[0].lcn >= 4 ? kErrorAccessDenied : kErrorInvalidParameter);
    EXPECT_EQ(volume->MoveClusters(*mft, 0, free_lcn, 1), kErrorAccessDenied);
    EXPECT_EQ(volume->MoveClusters(*directory, 0, free_lcn, 1), kErrorAccessDenied);
    EXPECT_EQ(volume->MoveClusters(*file, 60, free_lcn, 5), kErrorInvalidParameter);
    EXPECT_EQ(volume->MoveClusters(*file, 0, static_cast<int64_t>(facts_.cluster_count) - 1, 2),
              kErrorInvalidParameter);
    EXPECT_EQ(volume->MoveClusters(*file, -1, free_lcn, 1), kErrorInvalidParameter);
    EXPECT_EQ(volume->MoveClusters(*file, 0, free_lcn, 0), kErrorInvalidParameter);
  }
  EXPECT_TRUE(ReadHostFile(image_) == before) << "a refused move changed the image";
}

// All extents in one query.
std::vector<ExpectedExtent> ListExtentsAtOnce(VolumeFile& file) {
  std::vector<uint8_t> buffer(kRetrievalPointersHeaderSize + 16 * 100000);
  std::vector<ExpectedExtent> extents;
  std::size_t returned = 0;
  EXPECT_EQ(file.GetRetrievalPointers(0, buffer.data(), buffer.size(), &returned), kErrorSuccess);
  uint32_t count = 0;
  int64_t vcn = 0;
  std::memcpy(&count, buffer.data(), 4);
  std::memcpy(&vcn, buffer.data() + 8, 8);
  for (uint32_t i = 0; i < count; ++i) {
    RetrievalExtent extent;
    std::memcpy(&extent, buffer.data() + kRetrievalPointersHeaderSize + 16 * i, sizeof extent);
    extents.push_back({vcn, extent.next_vcn, extent.lcn});
    vcn = extent.next_vcn;
  }
  return extents;
}

// A file already in `pieces` pieces on a volume filled up (and, with
// `fill_records`, its MFT's free records too) but for one cluster, split
// further one cluster at a time until its runlist can grow no more: the
// failure must be a clean "disk full" that leaves everything as it was.
void NtfsImageTest::SplitUntilFull(uint64_t image_bytes, int64_t file_clusters, int64_t pieces,
                                   bool fill_records) {
  const std::vector<uint8_t> content = PseudoRandomBytes(file_clusters * 4096, 9);
  ASSERT_NO_FATAL_FAILURE(MakeImage(image_bytes, 4096, {{"f.bin", content}}));
  {
    std::unique_ptr<Volume> volume;
    std::unique_ptr<VolumeFile> file;
    ASSERT_EQ(OpenImageVolume(image_, &volume), kErrorSuccess);
    ASSERT_EQ(OpenImageFile(image_, "/f.bin", &file), kErrorSuccess);
    ASSERT_NO_FATAL_FAILURE(Scatter(*volume, *file, file_clusters, pieces, facts_.cluster_count,
                                    [this](const std::vector<uint8_t>& bitmap, int64_t from,
                                           int64_t length) { return FindFree(bitmap, from, length); }));
  }
  {
    FuseMount mount(image_, scratch_.path() + "/mnt");
    ASSERT_TRUE(mount.ok());
    const std::string root = scratch_.path() + "/mnt/";
    FILE* filler = fopen((root + "filler").c_str(), "wb");
    ASSERT_TRUE(filler);
    std::vector<uint8_t> chunk(4096, 0xEE);
    long written = 0;
    while (fwrite(chunk.data(), 1, chunk.size(), filler) == chunk.size() && fflush(filler) == 0)
      written += 4096;
    fclose(filler);  // ENOSPC is the point here
    for (int i = 0; fill_records && i < 4000; ++i) {
      FILE* empty = fopen((root + "e" + std::to_string(i)).c_str(), "wb");
      if (!empty) break;
      fclose(empty);
    }
    ASSERT_GT(written, 4096);
    ASSERT_EQ(truncate((root + "filler").c_str(), written - 4096), 0);
    ASSERT_TRUE(mount.Unmount());
  }

  uint32_t failure = kErrorSuccess;
  std::vector<ExpectedExtent> extents_before_failure;
  std::vector<uint8_t> bitmap_before_failure;
  {
    std::unique_ptr<Volume> volume;
    std::unique_ptr<VolumeFile> file;
    ASSERT_EQ(OpenImageVolume(image_, &volume), kErrorSuccess);
    ASSERT_EQ(OpenImageFile(image_, "/f.bin", &file), kErrorSuccess);
    for (int move = 0; move < 8000 && failure == kErrorSuccess; ++move) {
      extents_before_failure = ListExtentsAtOnce(*file);
      bitmap_before_failure = ReadBitmapThrough(*volume, facts_.cluster_count);
      const int64_t target = FindFree(bitmap_before_failure, 1, 1);
      ASSERT_GE(target, 0);
      const ExpectedExtent* longest = &extents_before_failure[0];
      for (const ExpectedExtent& extent : extents_before_failure)
        if (extent.next_vcn - extent.vcn > longest->next_vcn - longest->vcn) longest = &extent;
      ASSERT_GE(longest->next_vcn - longest->vcn, 3) << "ran out of runs to split";
      failure = volume->MoveClusters(*file, (longest->vcn + longest->next_vcn) / 2, target, 1);
      ASSERT_NE(failure, kErrorAccessDenied);
      ASSERT_NE(failure, kErrorInvalidParameter);
    }
    ASSERT_NE(failure, kErrorSuccess) << "the volume never ran out of room";
    EXPECT_EQ(failure, kErrorDiskFull) << ImageLibraryDetail();
    EXPECT_EQ(ListExtentsOneByOne(*file), extents_before_failure);
    EXPECT_TRUE(ReadBitmapThrough(*volume, facts_.cluster_count) == bitmap_before_failure);
  }
  EXPECT_EQ(NtfsinfoExtents(image_, "/f.bin"), extents_before_failure);
  EXPECT_TRUE(NtfscatBytes(image_, "/f.bin") == content);
  ExpectClean();
}

TEST_F(NtfsImageTest, NoRecordForTheAttributeListFailsCleanly) {
  SplitUntilFull(16u << 20, 1000, 1, /*fill_records=*/true);
}

TEST_F(NtfsImageTest, NoRecordForAnotherExtensionFailsCleanly) {
  SplitUntilFull(16u << 20, 1000, 400, /*fill_records=*/true);
}

TEST_F(NtfsImageTest, FileAndVolumeShareOneMountAndRefuseForeignFiles) {
  ASSERT_NO_FATAL_FAILURE(MakeImage(32u << 20, 4096, {{"a.bin", PseudoRandomBytes(8 * 4096, 1)}}));
  const std::string other = scratch_.path() + "/other.img";
  std::filesystem::copy_file(image_, other);
  const std::string spelled_otherwise = scratch_.path() + "/./volume.img";
  const auto before = NtfsinfoExtents(image_, "/a.bin");
  int64_t target = -1;
  {
    std::unique_ptr<Volume> volume, other_volume;
    std::unique_ptr<VolumeFile> file, same_file;
    ASSERT_EQ(OpenImageFile(image_, "/a.bin", &file), kErrorSuccess);
    ASSERT_EQ(OpenImageFile(image_, "/a.bin", &same_file), kErrorSuccess);
    ASSERT_EQ(OpenImageVolume(spelled_otherwise, &volume), kErrorSuccess);
    ASSERT_EQ(OpenImageVolume(other, &other_volume), kErrorSuccess);
    EXPECT_EQ(volume->DisplayName(), "volume.img");
    target = FindFree(ReadBitmapThrough(*volume, facts_.cluster_count),
                      static_cast<int64_t>(facts_.cluster_count) / 2, 8);
    EXPECT_EQ(other_volume->MoveClusters(*file, 0, target, 8), kErrorInvalidParameter);
    ASSERT_EQ(volume->MoveClusters(*file, 0, target, 8), kErrorSuccess);
    // The second handle on the same record sees the move at once.
    EXPECT_EQ(ListExtentsOneByOne(*same_file), (std::vector<ExpectedExtent>{{0, 8, target}}));
  }
  EXPECT_EQ(NtfsinfoExtents(image_, "/a.bin"), (std::vector<ExpectedExtent>{{0, 8, target}}));
  EXPECT_EQ(NtfsinfoExtents(other, "/a.bin"), before);
}

TEST_F(NtfsImageTest, OpeningExplainsWhatIsWrong) {
  ASSERT_NO_FATAL_FAILURE(MakeImage(32u << 20, 4096, {{"a.bin", PseudoRandomBytes(100, 1)}}));
  std::unique_ptr<Volume> volume;
  std::unique_ptr<VolumeFile> file;
  EXPECT_EQ(OpenImageFile(image_, "/missing.bin", &file), kErrorFileNotFound);
  EXPECT_EQ(OpenImageFile(image_, "/nodir/a.bin", &file), kErrorPathNotFound);
  EXPECT_EQ(OpenImageVolume(scratch_.path() + "/nothing.img", &volume), kErrorFileNotFound);
  EXPECT_FALSE(file);

  const std::string zeros = scratch_.path() + "/zeros.img";
  std::ofstream(zeros, std::ios::binary).put('\0');
  std::filesystem::resize_file(zeros, 1u << 20);
  EXPECT_EQ(OpenImageVolume(zeros, &volume), kErrorUnrecognizedVolume);

  {
    FuseMount mount(image_, scratch_.path() + "/mnt");
    ASSERT_TRUE(mount.ok());
#ifdef _WIN32
    // The driver's lock on the image keeps us out altogether.
    EXPECT_EQ(OpenImageVolume(image_, &volume), kErrorSharingViolation);
#else
    // Mounted elsewhere: read, but never written.
    ASSERT_EQ(OpenImageVolume(image_, &volume), kErrorSuccess);
    ASSERT_EQ(OpenImageFile(image_, "/a.bin", &file), kErrorSuccess);
    EXPECT_EQ(volume->MoveClusters(*file, 0, 100, 1), kErrorSharingViolation);
    file.reset();
    volume.reset();
#endif
    // Windows hibernated on this volume: its hibernation file says so.
    std::vector<uint8_t> hibernation(4096, 0);
    std::memcpy(hibernation.data(), "hibr", 4);
    ASSERT_TRUE(WriteWholeFile(scratch_.path() + "/mnt/hiberfil.sys", hibernation));
    ASSERT_TRUE(mount.Unmount());
  }
  EXPECT_EQ(OpenImageVolume(image_, &volume), kErrorVolumeDirty);
  EXPECT_FALSE(volume);
  EXPECT_FALSE(ErrorMessage(kErrorVolumeDirty).empty());
}

}  // namespace
}  // namespace shardix::test
