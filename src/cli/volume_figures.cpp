// Prints what the volume layer reports of a volume and one file: the
// bitmap's cluster count and free clusters, the geometry, and the file's
// extents one query at a time.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <vector>

#include "cli/commands.h"
#include "volume/error_codes.h"
#include "volume/volume.h"

namespace shardix::cli {

namespace {

void Report(const char* what, const std::string& path, uint32_t code) {
  std::fprintf(stderr, "shardix: %s %s: %s (%u)\n", what, path.c_str(), ErrorMessage(code).c_str(),
               code);
}

// The number of free clusters counted in the whole bitmap.
uint32_t CountFreeClusters(Volume& volume, uint64_t* cluster_count, uint64_t* free_clusters) {
  VolumeBitmapBuffer probe{};
  std::size_t returned = 0;
  uint32_t code = volume.GetVolumeBitmap(0, &probe, sizeof probe, &returned);
  if (code != kErrorSuccess && code != kErrorMoreData) return code;
  uint64_t clusters = static_cast<uint64_t>(probe.bitmap_size);
  std::vector<uint8_t> buffer(kVolumeBitmapHeaderSize + clusters / 8 + 1);
  code = volume.GetVolumeBitmap(0, buffer.data(), buffer.size(), &returned);
  if (code != kErrorSuccess) return code;
  uint64_t used = 0;
  for (uint64_t i = 0; i < clusters; ++i)
    used += (buffer[kVolumeBitmapHeaderSize + i / 8] >> (i % 8)) & 1;
  *cluster_count = clusters;
  *free_clusters = clusters - used;
  return kErrorSuccess;
}

}  // namespace

int PrintVolumeAndFile(const std::string& volume_path, const std::string& file_path) {
  std::unique_ptr<Volume> volume;
  uint32_t code = OpenVolumeByPath(volume_path, &volume);
  if (code != kErrorSuccess) {
    Report("cannot open the volume of", volume_path, code);
    return kExitFailure;
  }
  VolumeGeometry geometry;
  code = volume->GetGeometry(&geometry);
  if (code != kErrorSuccess) {
    Report("cannot read the geometry of", volume_path, code);
    return kExitFailure;
  }
  uint64_t clusters = 0, free_clusters = 0;
  code = CountFreeClusters(*volume, &clusters, &free_clusters);
  if (code != kErrorSuccess) {
    Report("cannot read the bitmap of", volume_path, code);
    return kExitFailure;
  }
  std::printf("Volume %s\n", volume->DisplayName().c_str());
  std::printf("  cluster size    %u bytes (%u sectors of %u bytes)\n",
              geometry.sectors_per_cluster * geometry.bytes_per_sector,
              geometry.sectors_per_cluster, geometry.bytes_per_sector);
  std::printf("  clusters        %" PRIu64 "\n", clusters);
  std::printf("  free clusters   %" PRIu64 "\n", free_clusters);

  std::unique_ptr<VolumeFile> file;
  code = OpenFileByPath(file_path, &file);
  if (code != kErrorSuccess) {
    Report("cannot open", file_path, code);
    return kExitFailure;
  }
  uint64_t size = 0;
  code = file->GetSize(&size);
  if (code != kErrorSuccess) {
    Report("cannot read the size of", file_path, code);
    return kExitFailure;
  }
  std::printf("File %s\n  size            %" PRIu64 " bytes\n  extents         VCN -> LCN (clusters)\n",
              file_path.c_str(), size);
  int64_t vcn = 0;
  for (;;) {
    RetrievalPointersBuffer extent{};
    code = file->GetRetrievalPointers(vcn, &extent, sizeof extent, nullptr);
    if (code == kErrorHandleEof) break;
    if (code != kErrorSuccess && code != kErrorMoreData) {
      Report("cannot list the extents of", file_path, code);
      return kExitFailure;
    }
    int64_t next = extent.extents[0].next_vcn;
    if (extent.extents[0].lcn == -1)
      std::printf("    %10" PRId64 " -> hole (%" PRId64 ")\n", extent.starting_vcn, next - extent.starting_vcn);
    else
      std::printf("    %10" PRId64 " -> %" PRId64 " (%" PRId64 ")\n", extent.starting_vcn,
                  extent.extents[0].lcn, next - extent.starting_vcn);
    if (code == kErrorSuccess) break;
    vcn = next;
  }
  return kExitSuccess;
}

}  // namespace shardix::cli

#include "analysis/analyze_file.h"
#include "volume/image_path.h"

namespace shardix::cli {

void PrintPathHint(const std::string& path, const FileSession& session) {
  if (session.file) return;
#ifndef _WIN32
  ImagePath split;
  if (SplitImagePath(path, &split) && split.inner == "/")
    std::fprintf(stderr,
                 "shardix: %s is not inside an NTFS image; name a file in an image or device "
                 "as IMAGE/path/in/image\n",
                 path.c_str());
#else
  (void)path;
#endif
}

}  // namespace shardix::cli
