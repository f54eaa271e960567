// Digests of a scenario image by region, in one pass at the speed of the
// hash: large reads, holes skipped with SEEK_DATA / SEEK_HOLE but hashed as
// the zeros they read as, and a stop flag looked at between reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "scenario/content.h"
#include "scenario/scenario.h"
#include "volume/error_codes.h"

namespace shardix::scenario {

namespace {

constexpr std::size_t kReadBytes = 8u << 20;

const std::vector<uint8_t>& Zeros() {
  static const std::vector<uint8_t> zeros(kReadBytes, 0);
  return zeros;
}

bool AllZero(const uint8_t* bytes, std::size_t count) {
  const std::vector<uint8_t>& zeros = Zeros();
  for (std::size_t at = 0; at < count; at += zeros.size()) {
    const std::size_t piece = std::min(zeros.size(), count - at);
    if (std::memcmp(bytes + at, zeros.data(), piece) != 0) return false;
  }
  return true;
}

// Sorts clusters into free space, metadata and listed files' data as the
// image's bytes go by in order.
class RegionHasher {
 public:
  RegionHasher(const ImageGeometry& geometry, const std::vector<uint8_t>& bitmap,
               const std::vector<FileRecord>& files)
      : cluster_size_(geometry.cluster_size), clusters_(geometry.cluster_count), bitmap_(bitmap) {
    for (const FileRecord& file : files)
      if (file.listed && file.state == "allocated")
        for (const StreamRun& run : file.runs)
          if (run.lcn >= 0) file_runs_.emplace_back(run.lcn, run.lcn + static_cast<int64_t>(run.clusters));
    std::sort(file_runs_.begin(), file_runs_.end());
  }

  // The next `count` bytes of the image (a multiple of the cluster size
  // unless the image ends), or as many zeros when `bytes` is null.
  void Feed(const uint8_t* bytes, std::size_t count) {
    image_.Add(bytes ? bytes : Zeros().data(), count);
    std::size_t at = 0;
    while (at < count) {
      const int64_t lcn = static_cast<int64_t>(offset_ / cluster_size_);
      if (static_cast<uint64_t>(lcn) >= clusters_) {  // past the volume's clusters: metadata
        metadata_.Add(bytes ? bytes + at : Zeros().data(), count - at);
        offset_ += count - at;
        return;
      }
      const std::size_t piece = std::min<std::size_t>(cluster_size_, count - at);
      const uint8_t* cluster = bytes ? bytes + at : nullptr;
      if (!InUse(lcn)) {
        ++free_clusters_;
        if (cluster && !AllZero(cluster, piece)) {
          ++free_data_clusters_;
          if (!free_data_.empty() && free_data_.back().first + static_cast<int64_t>(free_data_.back().second) == lcn)
            ++free_data_.back().second;
          else
            free_data_.emplace_back(lcn, 1);
          uint8_t number[8];
          for (int i = 0; i < 8; ++i) number[i] = static_cast<uint8_t>(static_cast<uint64_t>(lcn) >> (8 * i));
          free_.Add(number, sizeof number);
          free_.Add(cluster, piece);
        }
      } else if (!InFile(lcn)) {
        metadata_.Add(cluster ? cluster : Zeros().data(), piece);
      }
      at += piece;
      offset_ += piece;
    }
  }

  // Bytes of a disk outside its volume.
  void FeedOutside(const uint8_t* bytes, std::size_t count) {
    image_.Add(bytes ? bytes : Zeros().data(), count);
    outside_ += count;
  }

  void Finish(RegionDigests* digests) {
    digests->image_sha256 = image_.Hex();
    digests->image_bytes = offset_ + outside_;
    digests->free_clusters = free_clusters_;
    digests->free_data_clusters = free_data_clusters_;
    digests->free_sha256 = free_.Hex();
    digests->metadata_sha256 = metadata_.Hex();
    digests->free_data = std::move(free_data_);
  }

 private:
  bool InUse(int64_t lcn) const {
    const auto byte = static_cast<std::size_t>(lcn >> 3);
    return byte < bitmap_.size() && ((bitmap_[byte] >> (lcn & 7)) & 1);
  }
  // Clusters are asked for in increasing order, so one cursor walks the runs.
  bool InFile(int64_t lcn) {
    while (next_run_ < file_runs_.size() && file_runs_[next_run_].second <= lcn) ++next_run_;
    return next_run_ < file_runs_.size() && file_runs_[next_run_].first <= lcn;
  }

  const uint64_t cluster_size_;
  const uint64_t clusters_;
  const std::vector<uint8_t>& bitmap_;
  std::vector<std::pair<int64_t, int64_t>> file_runs_;  // [first, end) clusters
  std::size_t next_run_ = 0;
  uint64_t offset_ = 0;  // in the volume
  uint64_t outside_ = 0;
  uint64_t free_clusters_ = 0, free_data_clusters_ = 0;
  std::vector<std::pair<int64_t, uint64_t>> free_data_;
  Sha256 image_, free_, metadata_;
};

}  // namespace

bool ImageRegions(const std::string& image, const ImageGeometry& geometry,
                  const std::vector<uint8_t>& bitmap, const std::vector<FileRecord>& files,
                  const std::atomic<bool>* stop, RegionDigests* digests, std::string* error,
                  uint64_t volume_offset, uint64_t volume_bytes) {
  if (geometry.cluster_size == 0 || kReadBytes % geometry.cluster_size) {
    *error = "the cluster size " + std::to_string(geometry.cluster_size) + " does not divide the read size";
    return false;
  }
  const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot read " + image + ": " + std::strerror(errno);
    return false;
  }
  struct FdCloser {
    int fd;
    ~FdCloser() { close(fd); }
  } closer{fd};
  struct stat facts {};
  if (fstat(fd, &facts) != 0) {
    *error = "cannot read " + image + ": " + std::strerror(errno);
    return false;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  const auto file_size = static_cast<uint64_t>(facts.st_size);
  RegionHasher hasher(geometry, bitmap, files);
  std::vector<uint8_t> buffer(kReadBytes);
  const auto stopped = [&] {
    if (!stop || !stop->load()) return false;
    *error = "stopped while hashing " + image;
    return true;
  };
  // A disk's bytes around its volume count in the image's digest only;
  // clusters are counted from the volume's start.
  const auto hash = [&](uint64_t begin, uint64_t end, bool volume) {
    const auto feed = [&](const uint8_t* bytes, std::size_t count) {
      if (volume) hasher.Feed(bytes, count);
      else hasher.FeedOutside(bytes, count);
    };
    for (uint64_t at = begin; at < end;) {
      // Where the next data starts; a file system without holes says "here".
      off_t data = lseek(fd, static_cast<off_t>(at), SEEK_DATA);
      if (data < 0) data = errno == ENXIO ? static_cast<off_t>(end) : static_cast<off_t>(at);
      // Hole bytes are whole clusters only: a cluster split between a hole and
      // data is read.
      uint64_t hole_end = std::min<uint64_t>(static_cast<uint64_t>(data), end);
      hole_end -= (hole_end - at) % geometry.cluster_size;
      if (static_cast<uint64_t>(data) >= end) hole_end = end;
      while (at < hole_end) {
        if (stopped()) return false;
        const auto piece = static_cast<std::size_t>(std::min<uint64_t>(kReadBytes, hole_end - at));
        feed(nullptr, piece);
        at += piece;
      }
      if (at >= end) break;
      off_t hole = lseek(fd, static_cast<off_t>(at), SEEK_HOLE);
      uint64_t data_end = hole < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(hole), end);
      if (data_end <= at) data_end = std::min<uint64_t>(end, at + geometry.cluster_size);
      while (at < data_end) {
        if (stopped()) return false;
        // Whole clusters, so the next hole starts on a cluster boundary.
        uint64_t want = std::min<uint64_t>(kReadBytes, data_end - at);
        if (at + want < end && want % geometry.cluster_size)
          want = std::min<uint64_t>(end - at, want + geometry.cluster_size - want % geometry.cluster_size);
        std::size_t got = 0;
        while (got < want) {
          const ssize_t n = pread(fd, buffer.data() + got, static_cast<std::size_t>(want) - got,
                                  static_cast<off_t>(at + got));
          if (n < 0 && errno == EINTR) {
            if (stopped()) return false;
            continue;
          }
          if (n <= 0) {
            *error = "reading " + image + " failed: " + (n < 0 ? std::strerror(errno) : "it ended early");
            return false;
          }
          got += static_cast<std::size_t>(n);
        }
        feed(buffer.data(), got);
        at += got;
      }
    }
    return true;
  };
  const uint64_t volume_end = std::min(file_size, volume_offset + std::min(volume_bytes, file_size));
  if (!hash(0, std::min(volume_offset, file_size), false) ||
      !hash(std::min(volume_offset, file_size), volume_end, true) || !hash(volume_end, file_size, false))
    return false;
  hasher.Finish(digests);
  return true;
}

uint32_t DigestOfClusters(ImageFiles& files, int64_t lcn, uint64_t clusters, std::string* sha256,
                          std::string* error) {
  Sha256 digest;
  if (const uint32_t code = files.ReadClusters(
          lcn, clusters, [&](const uint8_t* data, std::size_t count) { digest.Add(data, count); }, error))
    return code;
  *sha256 = digest.Hex();
  return kErrorSuccess;
}

uint32_t DigestOfSlack(ImageFiles& files, const FileRecord& file, uint32_t cluster_size,
                       std::string* sha256, std::string* error) {
  Sha256 digest;
  uint64_t offset = 0;  // of the run's first byte in the stream
  for (const StreamRun& run : file.runs) {
    const uint64_t bytes = run.clusters * cluster_size;
    const uint64_t end = offset + bytes;
    if (run.lcn >= 0 && end > file.size) {
      const uint64_t skip = file.size > offset ? file.size - offset : 0;  // bytes of data in the run
      const uint64_t first = skip / cluster_size;
      uint64_t drop = skip % cluster_size;
      if (const uint32_t code = files.ReadClusters(
              run.lcn + static_cast<int64_t>(first), run.clusters - first,
              [&](const uint8_t* data, std::size_t count) {
                const auto skipped = static_cast<std::size_t>(std::min<uint64_t>(drop, count));
                drop -= skipped;
                digest.Add(data + skipped, count - skipped);
              },
              error))
        return code;
    }
    offset = end;
  }
  *sha256 = digest.Hex();
  return kErrorSuccess;
}

}  // namespace shardix::scenario
