// Timings of the NTFS image backend, each against a baseline measured in the
// same run on the same image:
//   - a 200 MiB move against dd copying the same bytes within the image,
//     with and without the final sync;
//   - a one-cluster move in a file of 5 000 extents against the same move in
//     a file of one extent;
//   - listing a 40 000-extent file one extent per call against listing it in
//     one call.
// Usage: ntfsimage_bench [FOLDER]   (default: a new folder under /tmp)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "volume/error_codes.h"
#include "tests/support/image_writing.h"
#include "volume/ntfsimage/ntfs_image.h"

namespace {

using shardix::kErrorSuccess;
using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

[[noreturn]] void Die(const std::string& what, uint32_t code) {
  std::fprintf(stderr, "%s: %s (%u) %s\n", what.c_str(), shardix::ErrorMessage(code).c_str(), code,
               shardix::ImageLibraryDetail().c_str());
  std::exit(1);
}

void Check(uint32_t code, const std::string& what) {
  if (code != kErrorSuccess) Die(what, code);
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

std::string MakeImage(const std::string& folder, const std::string& name, uint64_t bytes) {
  const std::string image = folder + "/" + name;
  { std::ofstream(image, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(image, bytes);
  Run("mkntfs -F -q -Q -c 4096 -s 512 '" + image + "' >/dev/null 2>&1");
  return image;
}

struct Extent {
  int64_t vcn, next_vcn, lcn;
};

std::vector<Extent> ListAtOnce(shardix::VolumeFile& file) {
  std::vector<uint8_t> buffer(16 + 16 * 200000);
  std::size_t returned = 0;
  Check(file.GetRetrievalPointers(0, buffer.data(), buffer.size(), &returned), "listing extents");
  uint32_t count;
  int64_t vcn;
  std::memcpy(&count, buffer.data(), 4);
  std::memcpy(&vcn, buffer.data() + 8, 8);
  std::vector<Extent> extents;
  for (uint32_t i = 0; i < count; ++i) {
    int64_t next, lcn;
    std::memcpy(&next, buffer.data() + 16 + 16 * i, 8);
    std::memcpy(&lcn, buffer.data() + 24 + 16 * i, 8);
    extents.push_back({vcn, next, lcn});
    vcn = next;
  }
  return extents;
}

size_t ListOneByOne(shardix::VolumeFile& file) {
  size_t count = 0;
  int64_t vcn = 0;
  for (;;) {
    shardix::RetrievalPointersBuffer out{};
    const uint32_t code = file.GetRetrievalPointers(vcn, &out, sizeof out, nullptr);
    if (code == shardix::kErrorHandleEof) break;
    if (code != kErrorSuccess && code != shardix::kErrorMoreData) Die("listing one by one", code);
    ++count;
    if (code == kErrorSuccess) break;
    vcn = out.extents[0].next_vcn;
  }
  return count;
}

std::vector<uint8_t> Bitmap(shardix::Volume& volume, uint64_t clusters) {
  std::vector<uint8_t> buffer(16 + (clusters + 7) / 8);
  std::size_t returned = 0;
  Check(volume.GetVolumeBitmap(0, buffer.data(), buffer.size(), &returned), "reading the bitmap");
  return std::vector<uint8_t>(buffer.begin() + 16, buffer.end());
}

int64_t FindFree(const std::vector<uint8_t>& bitmap, int64_t from, int64_t length) {
  int64_t run = 0;
  for (int64_t lcn = from; lcn < static_cast<int64_t>(bitmap.size()) * 8; ++lcn) {
    run = (bitmap[lcn / 8] >> (lcn % 8)) & 1 ? 0 : run + 1;
    if (run == length) return lcn - length + 1;
  }
  return -1;
}

// Splits the file, in VCN order, into one-cluster extents with a free
// cluster between each two.
void SplitIntoSingleClusters(shardix::Volume& volume, shardix::VolumeFile& file, int64_t clusters,
                             uint64_t volume_clusters, int64_t start) {
  int64_t cursor = start;
  std::vector<uint8_t> bitmap = Bitmap(volume, volume_clusters);
  for (int64_t vcn = 0; vcn < clusters; ++vcn) {
    int64_t target = FindFree(bitmap, cursor, 1);
    uint32_t code = target < 0 ? shardix::kErrorAccessDenied : volume.MoveClusters(file, vcn, target, 1);
    if (code == shardix::kErrorAccessDenied) {  // the MFT took it meanwhile
      bitmap = Bitmap(volume, volume_clusters);
      target = FindFree(bitmap, cursor, 1);
      code = volume.MoveClusters(file, vcn, target, 1);
    }
    Check(code, "splitting");
    bitmap[target / 8] |= 1 << (target % 8);
    cursor = target + 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = argc > 1 ? argv[1] : "";
  if (folder.empty()) {
    char pattern[] = "/tmp/shardix-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    folder = pattern;
  }
  std::filesystem::create_directories(folder);
  std::string error;
  // SHARDIX_BENCH_EXTENTS_ONLY=1 skips the 200 MiB move and keeps the image
  // with the 40 000-extent file (/forty.bin), for timing the front ends on it.
  const bool extents_only = std::getenv("SHARDIX_BENCH_EXTENTS_ONLY") != nullptr;

  // 1. A 200 MiB move against dd of the same bytes within the image.
  if (!extents_only) {
    const std::string image = MakeImage(folder, "move.img", 1024ull << 20);
    const uint64_t size = 200ull << 20;
    std::vector<uint8_t> content(size);
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    Check(shardix::WriteFileToImage(image, "/big.bin", content, &error), error);
    const int64_t clusters = static_cast<int64_t>(size / 4096);
    int64_t source = -1, other = -1;
    {
      std::unique_ptr<shardix::VolumeFile> file;
      std::unique_ptr<shardix::Volume> volume;
      Check(shardix::OpenImageFile(image, "/big.bin", &file), "open");
      Check(shardix::OpenImageVolume(image, &volume), "open volume");
      source = ListAtOnce(*file)[0].lcn;
      shardix::VolumeGeometry geometry;
      Check(volume->GetGeometry(&geometry), "geometry");
      other = FindFree(Bitmap(*volume, geometry.total_clusters), source + clusters + 1024, clusters);
    }
    std::vector<double> dd_nosync, dd_sync, move_nosync, move_sync;
    int64_t at = source;
    // Each timing starts with nothing dirty in the page cache.
    for (int round = 0; round < 5; ++round) {
      const int64_t to = at == source ? other : source;
      auto dd = [&](bool sync) {
        Run("dd if='" + image + "' of='" + image + "' bs=4M iflag=skip_bytes,count_bytes " +
            "oflag=seek_bytes conv=notrunc" + (sync ? ",fsync" : "") + " skip=" +
            std::to_string(at * 4096) + " seek=" + std::to_string(to * 4096) + " count=" +
            std::to_string(size) + " status=none");
      };
      ::sync();
      dd_nosync.push_back(Seconds([&] { dd(false); }));
      ::sync();
      dd_sync.push_back(Seconds([&] { dd(true); }));
      ::sync();
      std::unique_ptr<shardix::VolumeFile> file;
      std::unique_ptr<shardix::Volume> volume;
      Check(shardix::OpenImageFile(image, "/big.bin", &file), "open");
      Check(shardix::OpenImageVolume(image, &volume), "open volume");
      double moved = Seconds([&] { Check(volume->MoveClusters(*file, 0, to, clusters), "200 MiB move"); });
      // Closing the last handle unmounts, which syncs the image.
      double closed = Seconds([&] {
        file.reset();
        volume.reset();
      });
      move_nosync.push_back(moved);
      move_sync.push_back(moved + closed);
      at = to;
    }
    const double mib = static_cast<double>(size) / (1 << 20);
    std::printf("200 MiB move: %.0f MiB/s, dd %.0f MiB/s: ratio %.2f of dd (without final sync)\n",
                mib / Median(move_nosync), mib / Median(dd_nosync),
                Median(dd_nosync) / Median(move_nosync));
    std::printf("200 MiB move: %.0f MiB/s, dd %.0f MiB/s: ratio %.2f of dd (with final sync)\n",
                mib / Median(move_sync), mib / Median(dd_sync), Median(dd_sync) / Median(move_sync));
    std::filesystem::remove(image);
  }

  // 2. Small moves at 5 000 extents against the same moves at one extent.
  // 3. Listing 40 000 extents one per call against one call.
  {
    const std::string image = MakeImage(folder, "extents.img", 768ull << 20);
    Check(shardix::WriteFileToImage(image, "/one.bin", std::vector<uint8_t>(5000 * 4096, 1), &error), error);
    Check(shardix::WriteFileToImage(image, "/five.bin", std::vector<uint8_t>(5000 * 4096, 2), &error), error);
    Check(shardix::WriteFileToImage(image, "/forty.bin", std::vector<uint8_t>(40000ull * 4096, 3), &error), error);
    std::unique_ptr<shardix::Volume> volume;
    std::unique_ptr<shardix::VolumeFile> one, five, forty;
    Check(shardix::OpenImageVolume(image, &volume), "open volume");
    Check(shardix::OpenImageFile(image, "/one.bin", &one), "open");
    Check(shardix::OpenImageFile(image, "/five.bin", &five), "open");
    Check(shardix::OpenImageFile(image, "/forty.bin", &forty), "open");
    shardix::VolumeGeometry geometry;
    Check(volume->GetGeometry(&geometry), "geometry");
    const double split_seconds = Seconds([&] {
      SplitIntoSingleClusters(*volume, *five, 5000, geometry.total_clusters, 60000);
      SplitIntoSingleClusters(*volume, *forty, 40000, geometry.total_clusters, 80000);
    });
    std::printf("(split 5 000 + 40 000 clusters into single extents in %.1f s)\n", split_seconds);

    // One cluster from the middle of the file to a free cluster and back,
    // 500 times, in each file.
    auto small_moves = [&](shardix::VolumeFile& file, int64_t vcn) {
      const int64_t home = ListAtOnce(file)[0].lcn;
      (void)home;
      std::vector<uint8_t> bitmap = Bitmap(*volume, geometry.total_clusters);
      const int64_t a = FindFree(bitmap, 20000, 3) + 1;
      const int64_t b = FindFree(bitmap, a + 3, 3) + 1;
      return Seconds([&] {
               for (int i = 0; i < 250; ++i) {
                 Check(volume->MoveClusters(file, vcn, a, 1), "small move");
                 Check(volume->MoveClusters(file, vcn, b, 1), "small move");
               }
             }) /
             500;
    };
    const double at_one = small_moves(*one, 2500);
    const double at_five = small_moves(*five, 2500);
    std::printf("small move: %.3f ms at 5 000 extents, %.3f ms at 1 extent: ratio %.1f\n",
                at_five * 1e3, at_one * 1e3, at_five / at_one);

    size_t listed = 0;
    const double all_at_once = Seconds([&] { listed = ListAtOnce(*forty).size(); });
    size_t counted = 0;
    const double one_by_one = Seconds([&] { counted = ListOneByOne(*forty); });
    std::printf("listing %zu extents one per call: %.3f s, in one call %.4f s: ratio %.1f\n", counted,
                one_by_one, all_at_once, one_by_one / all_at_once);
    if (listed != counted) std::printf("(counts differ: %zu vs %zu)\n", listed, counted);
    if (extents_only) {
      std::printf("kept %s\n", image.c_str());
      return 0;
    }
  }
  std::filesystem::remove_all(folder);
  return 0;
}
