// Building a scenario image from a recipe, and what the build knows of
// every file it made: the ground truth a manifest records.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/scenario/recipe.h"
#include "volume/ntfsimage/image_builder.h"

namespace shardix::cli {

// One stream of one file, as it stands at the end of the build. A deleted
// file keeps the record, size, digests and runs it had when deleted.
struct FileRecord {
  std::string path;
  std::string stream;
  uint64_t mft_record = 0;
  uint64_t size = 0;
  bool resident = false;
  std::string sha256, md5;
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

struct ScenarioResult {
  ImageGeometry geometry;
  uint64_t serial_number = 0;
  std::vector<FileRecord> files;
  std::vector<FolderRecord> folders;
  std::vector<AgingSummary> aging;
  std::vector<std::string> warnings;  // results that differ from what was asked
  uint64_t image_bytes = 0;
  std::string image_sha256;
};

// Makes `image` (which must not exist) and carries out the recipe's steps
// on it, one line per step on `progress` (null for none). When `stop` turns
// true the build ends after the change in flight (a Fragment job after its
// move in flight) and writes the image back. False with a line for people on
// failure or stop; the image is then left as far as it got.
bool BuildScenario(const Recipe& recipe, const std::string& image, ScenarioResult* result,
                   FILE* progress, const std::atomic<bool>* stop, std::string* error);

// The SHA-256 of a whole host file, and its size.
bool HashHostFile(const std::string& path, std::string* sha256, uint64_t* bytes, std::string* error);

// The SHA-256 of the first `file.size` bytes its runs hold now (holes read
// as zeros): whether a deleted file's former clusters still hold it.
uint32_t DigestOfRuns(ImageFiles& files, const FileRecord& file, uint32_t cluster_size,
                      std::string* sha256, std::string* error);

// Runs next to each other on the volume (or holes next to holes) joined.
std::vector<StreamRun> JoinRuns(const std::vector<StreamRun>& runs);

}  // namespace shardix::cli
