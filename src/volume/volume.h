// The volume layer: the three NTFS defragmentation control operations behind
// one interface, so the engine is written once for a real Windows volume, an
// NTFS image through libntfs-3g, and the simulated volume of the tests.
//
// Every backend answers exactly as the Windows control codes do: the same
// buffer layouts, the same error numbers (see error_codes.h), the same
// partial results with ERROR_MORE_DATA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace shardix {

// FSCTL_GET_VOLUME_BITMAP output: starting LCN, bitmap size in clusters, then
// one bit per cluster from byte offset 16 (least significant bit first).
struct VolumeBitmapBuffer {
  int64_t starting_lcn;
  int64_t bitmap_size;
  uint8_t buffer[1];
};
constexpr std::size_t kVolumeBitmapHeaderSize = 16;
static_assert(sizeof(VolumeBitmapBuffer) == 24, "VOLUME_BITMAP_BUFFER layout");

// FSCTL_GET_RETRIEVAL_POINTERS output with room for one extent.
struct RetrievalExtent {
  int64_t next_vcn;
  int64_t lcn;  // -1 for a hole of a sparse file
};
struct RetrievalPointersBuffer {
  uint32_t extent_count;
  int64_t starting_vcn;
  RetrievalExtent extents[1];
};
constexpr std::size_t kRetrievalPointersHeaderSize = 16;
static_assert(sizeof(RetrievalPointersBuffer) == 32, "RETRIEVAL_POINTERS_BUFFER layout");

// What GetDiskFreeSpace tells of a volume.
struct VolumeGeometry {
  uint32_t sectors_per_cluster = 0;
  uint32_t bytes_per_sector = 0;
  uint64_t free_clusters = 0;
  uint64_t total_clusters = 0;
};

// What an opened name is, as far as moving its clusters goes: only the
// unnamed data of an ordinary file is the jobs' to move.
enum class FileKind {
  kOrdinary,
  kFolder,
  kSystem,      // one of the volume's own files ($MFT, $Bitmap, $Extend\...)
  kSparse,      // data with holes
  kCompressed,  // data in compression units (or encrypted)
};

// A file opened for its clusters (attribute access only, as the mover needs).
class VolumeFile {
 public:
  virtual ~VolumeFile() = default;

  // Backends that cannot tell report every file as ordinary.
  virtual FileKind Kind() { return FileKind::kOrdinary; }

  // Size of the unnamed data stream in bytes.
  virtual uint32_t GetSize(uint64_t* size) = 0;

  // FSCTL_GET_RETRIEVAL_POINTERS from `starting_vcn` into `out`. Returns 0
  // when the extents written are the last, ERROR_MORE_DATA when more follow,
  // ERROR_HANDLE_EOF (output untouched) at or past the end of the allocation
  // and for data held in the file record. The first extent reported is the
  // one that holds `starting_vcn`; its start is written as starting_vcn.
  virtual uint32_t GetRetrievalPointers(int64_t starting_vcn, void* out, std::size_t out_size,
                                        std::size_t* bytes_returned) = 0;
};

// A volume opened for reading its bitmap and moving clusters.
class Volume {
 public:
  virtual ~Volume() = default;

  // FSCTL_GET_VOLUME_BITMAP from `starting_lcn` (rounded down to a multiple
  // of 8) into `out`. ERROR_MORE_DATA with a valid header and as many bitmap
  // bytes as fit when `out` is short; bits past the last cluster are zero.
  virtual uint32_t GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                                   std::size_t* bytes_returned) = 0;

  // FSCTL_MOVE_FILE: moves `cluster_count` clusters of `file` from
  // `starting_vcn` to `target_lcn`. 0 when moved; ERROR_ACCESS_DENIED or
  // ERROR_INVALID_PARAMETER when the target or the range cannot be used now
  // (the file is then unchanged); other codes for real failures.
  virtual uint32_t MoveClusters(VolumeFile& file, int64_t starting_vcn, int64_t target_lcn,
                            uint32_t cluster_count) = 0;

  // Cluster geometry and free space, as GetDiskFreeSpace reports them.
  virtual uint32_t GetGeometry(VolumeGeometry* geometry) = 0;

  // Only the cluster's sectors and the sector's bytes, for callers that need
  // no free count: a backend that must read the whole bitmap to count free
  // clusters answers this without doing so.
  virtual uint32_t GetClusterSize(uint32_t* sectors_per_cluster, uint32_t* bytes_per_sector) {
    VolumeGeometry geometry;
    const uint32_t code = GetGeometry(&geometry);
    if (code == 0) {
      *sectors_per_cluster = geometry.sectors_per_cluster;
      *bytes_per_sector = geometry.bytes_per_sector;
    }
    return code;
  }

  // Name shown to people: "C:" for a drive, the image's file name for an image.
  virtual std::string DisplayName() const = 0;

  // Before a job's first move: whether moves can be made and kept. 0, or a
  // code with *refusal saying in one sentence which path stands in the way
  // and what to do. A file system that keeps each move itself has nothing
  // to check.
  virtual uint32_t PrepareToMove(std::string* refusal) {
    (void)refusal;
    return 0;
  }

  // After a job's last move: everything moved so far reaches the disk
  // before this returns; 0, or the code of the write that failed, after
  // which nothing more of this volume's moves reaches it. The handle stays
  // open for reading.
  virtual uint32_t Close() { return 0; }

  // Move requests whose writes have reached the disk since the volume was
  // opened; -1 where each move reaches it as it is made.
  virtual int64_t CommittedMoves() const { return -1; }
};

// Opening by path. A path whose leading part names an existing regular file
// or block device is a file inside that NTFS image; any other path on
// Windows names a file on a mounted volume. Both return a Windows error code
// and leave *out empty on failure.
uint32_t OpenFileByPath(const std::string& path, std::unique_ptr<VolumeFile>* out);
uint32_t OpenVolumeByPath(const std::string& path, std::unique_ptr<Volume>* out);

// A source of volumes reached by path: the built-in backends, and the
// simulated volumes that tests and benchmarks register under a name.
class VolumeProvider {
 public:
  virtual ~VolumeProvider() = default;
  // ERROR_NOT_SUPPORTED when the path is not this provider's.
  virtual uint32_t OpenFile(const std::string& path, std::unique_ptr<VolumeFile>* out) = 0;
  virtual uint32_t OpenVolume(const std::string& path, std::unique_ptr<Volume>* out) = 0;
};

// Providers are asked in the order registered, before the built-in rule.
// Registration is meant for start-up and tests, not for concurrent use.
void RegisterVolumeProvider(std::shared_ptr<VolumeProvider> provider);
void UnregisterVolumeProvider(const VolumeProvider* provider);

}  // namespace shardix
