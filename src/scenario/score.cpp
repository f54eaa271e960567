#include "scenario/score.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <unordered_map>

#include "scenario/content.h"
#include "scenario/manifest.h"
#include "scenario/recovered_files.h"

namespace shardix::scenario {

namespace {

// A fingerprint that more places of the originals than this share says
// little of where a block came from, and is not counted.
constexpr std::size_t kCommonBlock = 16;

struct Original {
  std::size_t scored = 0;  // index in ScoreResult::files
  std::string sha256;
  bool check_bytes = false;  // its runs still hold it: the digest must match
  std::vector<StreamRun> runs;  // lcn -1: a hole
};

struct Fingerprint {
  uint64_t hash;
  uint32_t file;   // index in ScoreResult::files
  uint32_t block;  // cluster-sized block of that file
  bool operator<(const Fingerprint& other) const { return hash < other.hash; }
};

bool AllZero(const uint8_t* data, std::size_t length) {
  return length == 0 || (data[0] == 0 && std::memcmp(data, data + 1, length - 1) == 0);
}

// The file's bytes, or the errno that stopped reading them.
int ReadWhole(const std::string& path, std::string* text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  char buffer[65536];
  int code = 0;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) code = errno;
    if (got <= 0) break;
    text->append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return code;
}

bool StartsWith(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

// Clusters [first, first + count) that another file or a remnant holds now.
struct Taken {
  std::vector<std::pair<int64_t, int64_t>> spans;  // [first, end), sorted
  bool Holds(int64_t cluster) const {
    auto after = std::upper_bound(spans.begin(), spans.end(), std::make_pair(cluster, INT64_MAX));
    return after != spans.begin() && cluster < std::prev(after)->second;
  }
};

class Scorer {
 public:
  Scorer(const ScoreProgress& progress, ScoreResult* result, std::string* error)
      : progress_(progress), result_(result), error_(error) {}

  bool Run(const std::string& manifest_path, const std::string& folder) {
    return ReadManifest(manifest_path) && ListRecoveredFiles(folder, &found_, error_) && IndexOriginals() &&
           ScoreFound(folder) && Summarize();
  }

 private:
  bool Fail(const std::string& text) {
    *error_ = text;
    return false;
  }

  bool ReadManifest(const std::string& path) {
    std::string text, error;
    if (const int code = ReadWhole(path, &text)) return Fail("cannot open " + path + ": " + std::strerror(code));
    const auto not_manifest = [&](const std::string& what) { return Fail(path + ": not a scenario manifest: " + what); };
    Manifest manifest;
    if (!scenario::ReadManifest(text, &manifest, &error)) return not_manifest(error);
    if (manifest.image.empty()) return not_manifest("\"image\" is missing");
    cluster_size_ = manifest.cluster_size;
    result_->cluster_size = manifest.cluster_size;
    image_bytes_ = manifest.image_bytes;
    // A volume inside a partitioned disk image starts this far into it.
    volume_offset_ = manifest.volume_offset;
    // The image lies beside its manifest, under the name the manifest gives.
    result_->image =
        (std::filesystem::path(path).parent_path() / std::filesystem::path(manifest.image).filename()).native();
    for (FileRecord& record : manifest.files) {
      ScoredFile file;
      file.path = record.path;
      file.size = record.size;
      file.state = record.state;
      LayoutFacts facts;
      Original original;
      original.sha256 = record.sha256;
      original.check_bytes = file.state != "overwritten";
      for (const StreamRun& run : record.runs) {
        if (run.lcn >= (int64_t{1} << 48)) return not_manifest("a run is out of range");
        if (run.lcn >= 0) facts.run_starts.push_back(run.lcn);
      }
      original.runs = std::move(record.runs);
      facts.resident = original.runs.empty() || record.resident;
      facts.notes = std::move(record.notes);
      for (const StreamRun& run : original.runs)
        if (run.lcn >= 0 && file.state != "overwritten") taken_.spans.push_back({run.lcn, run.lcn + static_cast<int64_t>(run.clusters)});
      // Named streams are not files a carver or undelete tool writes out, and
      // an empty file is found anywhere.
      if (!record.stream.empty() || file.size == 0) {
        ++result_->manifest_not_graded;
        continue;
      }
      file.layout = FileLayout(facts);
      original.scored = result_->files.size();
      result_->files.push_back(std::move(file));
      originals_.push_back(std::move(original));
    }
    for (const Remnant& remnant : manifest.remnants)
      taken_.spans.push_back({remnant.first_cluster, remnant.first_cluster + static_cast<int64_t>(remnant.clusters)});
    std::sort(taken_.spans.begin(), taken_.spans.end());
    return true;
  }

  void Advance(uint64_t bytes) {
    done_ += bytes;
    if (progress_ && done_ - reported_ >= (uint64_t{64} << 20)) {
      reported_ = done_;
      progress_(done_, total_);
    }
  }

  // Reads every original from the image once: checks its digest where its
  // runs still hold it, and fingerprints its clusters. The clusters of an
  // overwritten file that something else holds now are not its bytes.
  bool IndexOriginals() {
    const std::string& image = result_->image;
    const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Fail("cannot open " + image + ": " + std::strerror(errno));
    struct stat facts {};
    if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
      const int code = S_ISDIR(facts.st_mode) ? EISDIR : errno;
      ::close(fd);
      return Fail("cannot open " + image + ": " + std::strerror(code));
    }
    if (image_bytes_ && static_cast<uint64_t>(facts.st_size) != image_bytes_) {
      ::close(fd);
      return Fail(image + " is " + std::to_string(facts.st_size) + " bytes, not the " +
                  std::to_string(image_bytes_) + " the manifest says: not the image it describes");
    }
    for (const Original& original : originals_) total_ += result_->files[original.scored].size;
    for (const FoundFile& found : found_) total_ += found.size;
    std::vector<uint8_t> cluster(cluster_size_), zeros(cluster_size_, 0);
    bool ok = true;
    for (std::size_t index = 0; ok && index < originals_.size(); ++index) {
      const Original& original = originals_[index];
      const ScoredFile& file = result_->files[original.scored];
      Sha256 digest;
      uint64_t offset = 0, block = 0;
      for (const StreamRun& run : original.runs) {
        for (uint64_t k = 0; ok && k < run.clusters && offset < file.size; ++k, ++block) {
          const std::size_t length = static_cast<std::size_t>(std::min<uint64_t>(cluster_size_, file.size - offset));
          const uint8_t* data = zeros.data();
          if (run.lcn >= 0) {
            const int64_t lcn = run.lcn + static_cast<int64_t>(k);
            ok = ReadCluster(fd, lcn, length, cluster.data());
            data = cluster.data();
            if (ok && !AllZero(data, length) && (original.check_bytes || !taken_.Holds(lcn)))
              index_.push_back({XXH3_64bits(data, length), static_cast<uint32_t>(original.scored),
                                static_cast<uint32_t>(block)});
          }
          digest.Add(data, length);
          offset += length;
          Advance(length);
        }
      }
      // A resident file lies in its MFT record, not in runs: nothing to read back.
      if (ok && original.check_bytes && !original.runs.empty() && (offset != file.size || digest.Hex() != original.sha256))
        ok = Fail(image + " does not hold " + file.path + " as the manifest says: not the image it describes");
    }
    ::close(fd);
    if (!ok) return false;
    std::sort(index_.begin(), index_.end());
    // Blocks that many places share (a pattern, say) are dropped.
    std::vector<Fingerprint> kept;
    for (std::size_t at = 0, end = 0; at < index_.size(); at = end) {
      for (end = at; end < index_.size() && index_[end].hash == index_[at].hash;) ++end;
      if (end - at <= kCommonBlock) kept.insert(kept.end(), index_.begin() + at, index_.begin() + end);
    }
    index_.swap(kept);
    for (std::size_t i = 0; i < originals_.size(); ++i) by_sha256_[originals_[i].sha256].push_back(originals_[i].scored);
    return true;
  }

  bool ReadCluster(int fd, int64_t lcn, std::size_t length, uint8_t* data) {
    const off_t at = static_cast<off_t>(volume_offset_) + static_cast<off_t>(lcn) * static_cast<off_t>(cluster_size_);
    std::size_t got = 0;
    while (got < length) {
      const ssize_t n = ::pread(fd, data + got, length - got, at + static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Fail("cannot read " + result_->image + ": " + std::strerror(errno));
      if (n == 0) return Fail(result_->image + " ends before cluster " + std::to_string(lcn) + ": not the image the manifest describes");
      got += static_cast<std::size_t>(n);
    }
    return true;
  }

  bool ScoreFound(const std::string& folder) {
    std::vector<std::pair<uint32_t, uint32_t>> hits;  // (file, block) seen in this recovered file
    // Per graded file: recovered files that equal it, and (bytes, recovered) that hold part of it.
    std::vector<std::vector<std::string>> whole(result_->files.size());
    std::vector<std::vector<std::pair<uint64_t, std::string>>> parts(result_->files.size());
    for (const FoundFile& found : found_) {
      if (found.size == 0) {
        ++result_->empty_recovered;
        continue;
      }
      hits.clear();
      Sha256 digest;
      const auto take = [&](const uint8_t* data, std::size_t length) {
        digest.Add(data, length);
        Advance(length);
        if (AllZero(data, length)) return;
        const Fingerprint key{XXH3_64bits(data, length), 0, 0};
        for (auto at = std::lower_bound(index_.begin(), index_.end(), key); at != index_.end() && at->hash == key.hash; ++at)
          hits.push_back({at->file, at->block});
      };
      const std::string path = (std::filesystem::path(folder) / found.path).native();
      if (!ReadInBlocks(path, static_cast<uint32_t>(cluster_size_), take, error_)) return false;
      RecoveredFile recovered;
      recovered.path = found.path;
      recovered.size = found.size;
      if (const auto equal = by_sha256_.find(digest.Hex()); equal != by_sha256_.end()) {
        recovered.verdict = "whole";
        recovered.match = result_->files[equal->second.front()].path;
        recovered.fraction = 1;
        for (std::size_t file : equal->second) whole[file].push_back(found.path);
      } else {
        std::sort(hits.begin(), hits.end());
        hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
        for (std::size_t at = 0, end = 0; at < hits.size(); at = end) {
          const ScoredFile& file = result_->files[hits[at].first];
          uint64_t bytes = 0;
          for (end = at; end < hits.size() && hits[end].first == hits[at].first; ++end)
            bytes += std::min<uint64_t>(cluster_size_, file.size - uint64_t{hits[end].second} * cluster_size_);
          parts[hits[at].first].push_back({bytes, found.path});
          const double fraction = static_cast<double>(bytes) / static_cast<double>(file.size);
          if (fraction > recovered.fraction) {
            recovered.verdict = "partial";
            recovered.match = file.path;
            recovered.fraction = fraction;
          }
        }
      }
      if (recovered.verdict == "none") ++result_->false_positives;
      result_->recovered.push_back(std::move(recovered));
    }
    for (std::size_t i = 0; i < result_->files.size(); ++i) {
      ScoredFile& file = result_->files[i];
      std::stable_sort(parts[i].begin(), parts[i].end(),
                       [](const auto& a, const auto& b) { return a.first > b.first; });
      file.recovered_as = whole[i];
      for (const auto& [bytes, path] : parts[i]) file.recovered_as.push_back(path);
      if (!whole[i].empty()) {
        file.verdict = "whole";
        file.fraction = 1;
      } else if (!parts[i].empty()) {
        file.verdict = "partial";
        file.fraction = static_cast<double>(parts[i].front().first) / static_cast<double>(file.size);
      }
    }
    return true;
  }

  bool Summarize() {
    for (const ScoredFile& file : result_->files)
      for (VerdictCounts* counts : {&result_->total, &result_->by_layout[file.layout], &result_->by_state[file.state]}) {
        ++counts->files;
        ++(file.verdict == "whole" ? counts->whole : file.verdict == "partial" ? counts->partial : counts->missed);
      }
    if (progress_) progress_(total_, total_);
    return true;
  }

  const ScoreProgress& progress_;
  ScoreResult* result_;
  std::string* error_;
  uint64_t cluster_size_ = 0, image_bytes_ = 0, volume_offset_ = 0;
  uint64_t done_ = 0, reported_ = 0, total_ = 0;
  std::vector<Original> originals_;
  Taken taken_;
  std::vector<FoundFile> found_;
  std::vector<Fingerprint> index_;
  std::unordered_map<std::string, std::vector<std::size_t>> by_sha256_;
};

}  // namespace

std::string FileLayout(const LayoutFacts& facts) {
  if (facts.resident) return "resident";
  bool braided = false, nested = false;
  for (const std::string& note : facts.notes) {
    if (StartsWith(note, "run ") && note.find(" taken by ") != std::string::npos) return "missing-pieces";
    braided = braided || StartsWith(note, "braided with ");
    nested = nested || StartsWith(note, "nested inside ") ||
             (StartsWith(note, "holds ") && note.find(" nested between its parts") != std::string::npos);
  }
  if (braided) return "braided";
  if (nested) return "nested";
  if (facts.run_starts.size() <= 1) return "contiguous";
  return std::is_sorted(facts.run_starts.begin(), facts.run_starts.end()) ? "in-order" : "out-of-order";
}

bool ScoreRecovery(const std::string& manifest_path, const std::string& folder, const ScoreProgress& progress,
                   ScoreResult* result, std::string* error) {
  *result = ScoreResult();
  return Scorer(progress, result, error).Run(manifest_path, folder);
}

}  // namespace shardix::scenario
