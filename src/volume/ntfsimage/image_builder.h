// Building and reading back test images file by file: folders, streams
// (named ones too), sparse and resident files, deletions, and the facts of
// every stream (MFT record, size, runs) read back for a manifest. The
// builder works on the image's shared read-write mount, the same one the
// volume layer's file and volume handles use, so its writes and the moves
// made through Volume::MoveClusters go through one path. The reader mounts
// read-only and writes nothing. No library headers here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace shardix {

// One run of a stream in file order; lcn -1 for a hole.
struct StreamRun {
  int64_t vcn = 0;
  int64_t lcn = -1;
  uint64_t clusters = 0;
};

struct StreamFacts {
  uint64_t mft_record = 0;
  uint64_t size = 0;
  bool resident = false;  // held in the file record: no runs
  std::vector<StreamRun> runs;
};

struct ImageGeometry {
  uint32_t cluster_size = 0;
  uint32_t sector_size = 0;
  uint64_t cluster_count = 0;
};

// A part of a file that holds data; the rest of a sparse file is holes.
struct DataRange {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Fills `count` bytes of the stream from `offset`.
using ByteFiller = std::function<void(uint64_t offset, uint8_t* out, std::size_t count)>;
// Takes the next piece of a stream's bytes, in order.
using ByteSink = std::function<void(const uint8_t* bytes, std::size_t count)>;

// Reading an image's files. Paths are '/'-separated with a leading '/';
// `stream` "" is the unnamed data stream. Every call returns 0 or a Windows
// code, with a line for people in *error.
class ImageFiles {
 public:
  virtual ~ImageFiles();
  ImageGeometry geometry() const;
  uint32_t Facts(const std::string& path, const std::string& stream, StreamFacts* facts,
                 std::string* error);
  uint32_t Read(const std::string& path, const std::string& stream, const ByteSink& sink,
                std::string* error);
  // Raw clusters of the volume, whoever owns them.
  uint32_t ReadClusters(int64_t lcn, uint64_t count, const ByteSink& sink, std::string* error);
  // The MFT record of a file or folder.
  uint32_t RecordNumber(const std::string& path, uint64_t* mft_record, std::string* error);
  // The volume's cluster bitmap as it stands: bit n of byte n / 8 set when
  // cluster n is in use.
  uint32_t ClusterBitmap(std::vector<uint8_t>* bits, std::string* error);

  struct State;

 protected:
  explicit ImageFiles(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

class ImageBuilder final : public ImageFiles {
 public:
  explicit ImageBuilder(std::unique_ptr<State> state);
  // A folder; its parent must exist. An existing folder is fine.
  uint32_t MakeFolder(const std::string& path, std::string* error);
  // Creates the file when missing and gives `stream` exactly `size` bytes:
  // all of them from `fill` when `data` is empty, else only the listed
  // ranges (in increasing order) and holes between them.
  uint32_t WriteStream(const std::string& path, const std::string& stream, uint64_t size,
                       const std::vector<DataRange>& data, const ByteFiller& fill,
                       std::string* error);
  // Deletes a file or an empty folder; its record and clusters become free.
  uint32_t Delete(const std::string& path, std::string* error);
  // The next new file record is searched for from the group of eight that
  // holds `mft_record` on: it is taken when no lower record of the group is free.
  uint32_t PreferRecord(uint64_t mft_record, std::string* error);
  // While fenced, every free cluster outside `allowed` is marked in use, so
  // that the file data written meanwhile can take only clusters of
  // `allowed`; Unfence frees them again. One fence at a time.
  uint32_t Fence(const std::vector<StreamRun>& allowed, std::string* error);
  uint32_t Unfence(std::string* error);
  // Writes zeros over the clusters of [lcn, lcn + count) that the bitmap
  // says are free; clusters in use are left alone. `zeroed` counts the
  // clusters written.
  uint32_t ZeroFreeClusters(int64_t lcn, uint64_t count, uint64_t* zeroed, std::string* error);
  // Writes the volume serial number into the boot sector and its backup.
  uint32_t SetSerialNumber(uint64_t serial, std::string* error);
  // Every time stamp the library wrote from `since` (Unix seconds, by the
  // calendar clock) on becomes `pinned`, in the files' and folders' records
  // and index entries, deleted ones too, so that the same build gives the
  // same bytes whenever it runs. Best on a mount of its own, after the
  // changes were written back.
  uint32_t PinTimeStamps(int64_t since, int64_t pinned, std::string* error);
};

// The builder on the image's shared read-write mount (mounted on first use,
// written back when the builder and every other handle on it have gone).
uint32_t OpenImageBuilder(const std::string& image, std::unique_ptr<ImageBuilder>* out,
                          std::string* error);
// A private read-only mount.
uint32_t OpenImageReader(const std::string& image, std::unique_ptr<ImageFiles>* out,
                         std::string* error);

}  // namespace shardix
