// Building a scenario image from a recipe, and what the build knows of
// every file it made: the ground truth a manifest records.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "scenario/recipe.h"
#include "volume/ntfsimage/image_builder.h"

namespace shardix::scenario {

// One stream of one file, as it stands at the end of the build. A deleted
// file keeps the record, size, digests and runs it had when deleted.
struct FileRecord {
  std::string path;
  std::string stream;
  uint64_t mft_record = 0;
  uint64_t size = 0;
  bool resident = false;
  std::string sha256, md5;
  std::string slack_sha256;  // the bytes of its clusters past its end (allocated files)
  std::string state = "allocated";  // "deleted" or "overwritten" once deleted
  std::vector<StreamRun> runs;
  std::vector<std::string> notes;
  bool listed = true;  // false for aging files the recipe asked not to list
};

struct FolderRecord {
  std::string path;
  uint64_t mft_record = 0;
  std::string state = "allocated";
  std::vector<std::string> notes;
};

struct AgingSummary {
  std::string folder;
  uint64_t files_asked = 0, files_created = 0, files_deleted = 0;
  uint64_t free_pieces_asked = 0, free_pieces = 0;
  std::string outcome;  // in words: reached, or why it stopped
};

// Bytes in free space that no entry of `files` accounts for: a copy left
// where a move took a piece from (with "freed": "keep"), or a deleted file
// the manifest does not list.
struct Remnant {
  std::string path, stream;
  uint32_t part = 0;  // 1-based run of the file the clusters came from
  int64_t first_cluster = 0;
  uint64_t clusters = 0;
  std::string sha256;
  std::string why;
};

// Digests of the image by region, from one pass over it (ImageRegions).
struct RegionDigests {
  std::string image_sha256;
  uint64_t image_bytes = 0;
  uint64_t free_clusters = 0;
  uint64_t free_data_clusters = 0;  // free clusters that hold anything but zeros
  std::string free_sha256;          // over those: each cluster's number, then its bytes
  std::vector<std::pair<int64_t, uint64_t>> free_data;  // where those lie (first, clusters)
  std::string metadata_sha256;      // in-use clusters of no listed file, and bytes past the last cluster
};

struct ScenarioResult {
  ImageGeometry geometry;
  uint64_t serial_number = 0;
  std::vector<FileRecord> files;
  std::vector<FolderRecord> folders;
  std::vector<AgingSummary> aging;
  std::vector<std::string> warnings;  // results that differ from what was asked
  std::vector<Remnant> remnants;
  RegionDigests digests;
  std::vector<uint8_t> bitmap;  // the cluster bitmap at the end: which clusters are in use
};

// Makes `image` (which must not exist) and carries out the recipe's steps
// on it, one line per step on `progress` (null for none). When `stop` turns
// true the build ends after the change in flight (a Fragment job after its
// move in flight) and writes the image back. False with a line for people on
// failure or stop; the image is then left as far as it got.
bool BuildScenario(const Recipe& recipe, const std::string& image, ScenarioResult* result,
                   FILE* progress, const std::atomic<bool>* stop, std::string* error);

// One pass over the image file: its SHA-256, and the digests of its free
// space and its metadata, given the cluster bitmap and the runs of the listed
// allocated files. Holes are not read but hashed as the zeros they are.
// False with a line for people on failure; when `stop` turns true it ends
// between reads and says so. On a disk, the volume's `volume_bytes` start
// `volume_offset` bytes in; the rest counts in the image's SHA-256 only.
bool ImageRegions(const std::string& image, const ImageGeometry& geometry,
                  const std::vector<uint8_t>& bitmap, const std::vector<FileRecord>& files,
                  const std::atomic<bool>* stop, RegionDigests* digests, std::string* error,
                  uint64_t volume_offset = 0, uint64_t volume_bytes = UINT64_MAX);

// The SHA-256 of the bytes of a stream's clusters past its size.
uint32_t DigestOfSlack(ImageFiles& files, const FileRecord& file, uint32_t cluster_size,
                       std::string* sha256, std::string* error);
// The SHA-256 of a stretch of clusters.
uint32_t DigestOfClusters(ImageFiles& files, int64_t lcn, uint64_t clusters, std::string* sha256,
                          std::string* error);

// The SHA-256 of the first `file.size` bytes its runs hold now (holes read
// as zeros): whether a deleted file's former clusters still hold it.
uint32_t DigestOfRuns(ImageFiles& files, const FileRecord& file, uint32_t cluster_size,
                      std::string* sha256, std::string* error);

// Runs next to each other on the volume (or holes next to holes) joined.
std::vector<StreamRun> JoinRuns(const std::vector<StreamRun>& runs);

}  // namespace shardix::scenario
