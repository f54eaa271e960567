// A simulated NTFS volume for tests and benchmarks. It models what the
// engine can observe of NTFS through the three control operations: clusters
// held by other files and by unmovable metadata, files held in their record,
// empty and sparse files, moves refused when the target is taken, clusters
// freed by a move that stay unusable until a later checkpoint, and failures
// injected on any call. It scales to 2^32 clusters.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "volume/volume.h"

namespace shardix {

// One run of a file: `length` clusters from `vcn`, on the volume at `lcn`
// (-1 for a hole).
struct MemoryRun {
  int64_t vcn;
  int64_t length;
  int64_t lcn;
  bool operator==(const MemoryRun&) const = default;
};

enum class MemoryOperation {
  kOpenFile,
  kOpenVolume,
  kGetSize,
  kGetRetrievalPointers,
  kGetVolumeBitmap,
  kMoveFile,
  kGetGeometry,
  kCount
};

class MemoryVolume : public std::enable_shared_from_this<MemoryVolume> {
 public:
  struct Options {
    uint64_t cluster_count = 4096;
    uint32_t bytes_per_sector = 512;
    uint32_t sectors_per_cluster = 8;
    // Keep one 64-bit content word per cluster so that moves can be checked
    // for lost data. Off by default above 2^24 clusters.
    bool track_data = true;
    // Make freed clusters usable again after this many moves (0: only on
    // Checkpoint()).
    uint64_t checkpoint_every_moves = 0;
  };

  static std::shared_ptr<MemoryVolume> Create(const Options& options);

  // Building the layout. Each returns 0, or ERROR_ALREADY_EXISTS for a name
  // in use and ERROR_INVALID_PARAMETER for runs that overlap used clusters,
  // leave the volume or do not follow each other in VCN order from 0.
  uint32_t AddFile(const std::string& name, uint64_t size, const std::vector<MemoryRun>& runs);
  uint32_t AddSystemFile(const std::string& name, uint64_t size,
                         const std::vector<MemoryRun>& runs);  // clusters may not be moved
  uint32_t AddResidentFile(const std::string& name, uint64_t size);
  uint32_t AddDirectory(const std::string& name);
  // Clusters in use by metadata that belongs to no file that can be opened.
  uint32_t MarkUnmovable(int64_t lcn, int64_t count);
  // Contiguous runs of `cluster_count` clusters placed at the first free
  // clusters, as a file system would lay out a new file.
  uint32_t AddFileFirstFit(const std::string& name, uint64_t size);

  // The model, for tests.
  uint64_t cluster_count() const { return options_.cluster_count; }
  uint32_t cluster_size() const { return options_.bytes_per_sector * options_.sectors_per_cluster; }
  bool IsUsed(int64_t lcn) const;
  uint64_t FreeClusters() const;
  std::vector<MemoryRun> RunsOf(const std::string& name) const;  // empty if no such file
  // The content word of a file's cluster (0 for a hole), for loss checks.
  uint64_t FileClusterContent(const std::string& name, int64_t vcn) const;
  uint64_t MoveCount() const;

  // Freed clusters become usable for moves again.
  void Checkpoint();

  // The next `times` calls of `operation`, after `skip` more calls that
  // succeed as usual, fail with `code` and change nothing.
  void InjectFailure(MemoryOperation operation, uint32_t code, uint64_t skip = 0,
                     uint64_t times = 1);
  void ClearFailures();
  uint64_t CallCount(MemoryOperation operation) const;

  // Handles through the volume layer's interface.
  uint32_t OpenFile(const std::string& name, std::unique_ptr<VolumeFile>* out);
  uint32_t OpenVolume(std::unique_ptr<Volume>* out, const std::string& display_name = "memory");

 private:
  friend class MemoryFileHandle;
  friend class MemoryVolumeHandle;

  enum class FileKind { kNormal, kSystem, kResident, kDirectory };
  struct File {
    uint64_t id = 0;
    FileKind kind = FileKind::kNormal;
    uint64_t size = 0;
    std::vector<MemoryRun> runs;  // VCN order, contiguous from 0
  };
  struct Fault {
    uint32_t code = 0;
    uint64_t skip = 0;
    uint64_t times = 0;
  };

  explicit MemoryVolume(const Options& options);

  uint32_t AddFileLocked(const std::string& name, FileKind kind, uint64_t size,
                         const std::vector<MemoryRun>& runs);
  bool TakeFault(MemoryOperation operation, uint32_t* code);  // with mutex_ held
  bool TestBit(uint64_t lcn) const;
  void SetBits(uint64_t lcn, uint64_t count, bool used);
  bool AnyUsed(uint64_t lcn, uint64_t count) const;
  bool OverlapsPendingFree(uint64_t lcn, uint64_t count) const;
  static uint64_t ContentWord(uint64_t file_id, int64_t vcn);

  // The three control operations, called by the handles.
  uint32_t GetSize(uint64_t file_id, uint64_t* size);
  uint32_t GetRetrievalPointers(uint64_t file_id, int64_t starting_vcn, void* out,
                                std::size_t out_size, std::size_t* bytes_returned);
  uint32_t GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                           std::size_t* bytes_returned);
  uint32_t MoveClusters(uint64_t file_id, int64_t starting_vcn, int64_t target_lcn,
                    uint32_t cluster_count);
  uint32_t GetGeometry(VolumeGeometry* geometry);

  File* FindFile(uint64_t file_id);

  Options options_;
  mutable std::mutex mutex_;
  std::vector<uint64_t> bitmap_;   // bit set: cluster in use; bits past the end stay clear
  std::vector<uint64_t> content_;  // per cluster, when tracking data
  std::map<uint64_t, uint64_t> pending_free_;  // first LCN -> count, freed since the checkpoint
  std::map<std::string, File> files_;
  std::map<uint64_t, File*> files_by_id_;  // map nodes never move
  uint64_t next_file_id_ = 1;
  uint64_t used_clusters_ = 0;
  uint64_t moves_ = 0;
  uint64_t moves_at_checkpoint_ = 0;
  Fault faults_[static_cast<int>(MemoryOperation::kCount)];
  uint64_t calls_[static_cast<int>(MemoryOperation::kCount)] = {};
};

// Memory volumes reached by path: "memory:NAME/dir/file" names a file of the
// volume registered as NAME, "memory:NAME" the volume itself.
void RegisterMemoryVolume(const std::string& name, std::shared_ptr<MemoryVolume> volume);
void UnregisterMemoryVolume(const std::string& name);
constexpr const char kMemoryPathPrefix[] = "memory:";

}  // namespace shardix
