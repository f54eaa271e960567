// Grading what a recovery tool wrote against a scenario manifest: which of
// the image's files came back whole, which in part, which not at all, and
// which recovered files match none of them.
//
// The manifest holds digests, not contents; the originals are read from the
// image the manifest names, in the manifest's folder. Each original is read
// once and each cluster of it fingerprinted; each recovered file is read
// once, its SHA-256 compared with the originals' and each cluster-sized block
// at a cluster-aligned offset looked up among the fingerprints.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace shardix::scenario {

// One graded file of the manifest (the unnamed data stream of a file that
// holds at least one byte). Names are the exact bytes.
struct ScoredFile {
  std::string path;
  std::string state;   // allocated, deleted or overwritten
  std::string layout;  // see FileLayout
  uint64_t size = 0;
  std::string verdict = "missed";  // whole, partial or missed
  double fraction = 0;             // share of its bytes the best recovered file holds
  std::vector<std::string> recovered_as;  // relative to the folder; whole ones first
};

// One recovered file (of at least one byte).
struct RecoveredFile {
  std::string path;  // relative to the folder
  uint64_t size = 0;
  std::string verdict = "none";  // whole, partial or none (a false positive)
  std::string match;             // the manifest file it equals or holds most of
  double fraction = 0;           // share of that file's bytes it holds
};

struct VerdictCounts {
  uint64_t files = 0, whole = 0, partial = 0, missed = 0;
};

struct ScoreResult {
  std::string image;  // the path read
  uint32_t cluster_size = 0;
  std::vector<ScoredFile> files;
  std::vector<RecoveredFile> recovered;
  VerdictCounts total;
  std::map<std::string, VerdictCounts> by_layout, by_state;
  uint64_t false_positives = 0;
  uint64_t empty_recovered = 0;      // recovered files of 0 bytes: ignored
  uint64_t manifest_not_graded = 0;  // empty files and named streams
};

// Bytes done out of bytes to read, now and then.
using ScoreProgress = std::function<void(uint64_t done, uint64_t total)>;

// Scores the regular files under `folder` (symbolic links not followed)
// against the manifest at `manifest_path`. False with a line for people on
// failure: "cannot open PATH: reason" for what cannot be read, or what is
// wrong with the manifest or the image.
bool ScoreRecovery(const std::string& manifest_path, const std::string& folder,
                   const ScoreProgress& progress, ScoreResult* result, std::string* error);

// A file's layout on the volume as the manifest gives it: resident,
// missing-pieces (runs taken by a later file), braided, nested (holds
// another file between its parts, or lies between another's), contiguous,
// in-order or out-of-order (by its runs).
struct LayoutFacts {
  bool resident = false;
  std::vector<int64_t> run_starts;  // first cluster of each run that holds data, in file order
  std::vector<std::string> notes;
};
std::string FileLayout(const LayoutFacts& facts);

}  // namespace shardix::scenario
