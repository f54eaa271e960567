// A scenario recipe: the volume to make and the steps that fill it, read
// from JSON and checked whole before anything is made (docs/scenarios.md).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "volume/ntfsimage/image_builder.h"

namespace shardix::scenario {

struct FileContent {
  enum class Kind { kRandom, kZero, kPattern, kHost, kJpeg, kPng };
  Kind kind = Kind::kRandom;
  std::string pattern;             // kPattern: repeated
  std::string host_path;           // kHost: as given
  std::vector<uint8_t> host_bytes; // kHost: read when the recipe is read
  uint64_t seed = 0;               // kRandom, kJpeg, kPng
};

struct FileRecipe {
  std::string path;
  std::string stream;  // "" for the unnamed data stream
  uint64_t size = 0;
  bool size_given = false;  // an overwrite's file may take its size from the pieces
  FileContent content;
  std::vector<DataRange> data;  // sparse files: the ranges that hold data
  std::string reuse_record_of;  // a deleted file whose MFT record the file takes
};

// One place in an explicit layout: piece `piece` (1-based; 0 the whole
// file) of `path`, or a gap of free clusters.
struct LayoutItem {
  std::string path;
  uint32_t piece = 0;
  uint64_t gap = 0;
};

struct LayoutSplit {
  std::string path;
  uint32_t pieces = 0;                  // equal pieces, or
  std::vector<uint64_t> piece_clusters; // sizes in clusters
};

struct Step {
  enum class Kind { kFolder, kCreate, kFragment, kLayout, kDelete, kOverwrite, kAge };
  Kind kind = Kind::kCreate;
  std::string op;  // as written
  std::string path;
  FileRecipe file;  // kCreate, kOverwrite (the new file)
  // kFragment: as `shardix fragment` takes them.
  uint64_t count = 0;
  int32_t method = 0;
  int slider = 10;
  uint32_t seed = 0;
  // kLayout
  std::vector<LayoutSplit> split;
  std::vector<LayoutItem> arrange;
  // kDelete
  bool recursive = false;
  // kOverwrite: the pieces (1-based runs) of a deleted file to cover.
  std::string deleted;
  std::vector<uint32_t> pieces;
  // kAge
  uint64_t age_files = 0;
  uint64_t free_pieces = 0;
  uint64_t min_size = 0, max_size = 0;
  uint32_t delete_percent = 0;
  bool list = true;
};

struct Recipe {
  nlohmann::ordered_json source;  // as read, for the manifest
  uint64_t volume_bytes = 0;
  bool keep_freed = false;  // "freed": "keep": clusters freed by moves keep their bytes
  uint32_t cluster_size = 4096;
  uint32_t sector_size = 512;
  std::string label = "Scenario";
  // A whole disk around the volume: "mbr" or "gpt" ("" for a bare volume),
  // with the volume's partition `volume_offset` bytes from the disk's start.
  std::string partition_table;
  uint64_t volume_offset = 0;
  uint64_t seed = 0;
  int64_t time = 1577836800;  // 2020-01-01 00:00:00 UTC
  std::vector<Step> steps;
};

struct RecipeOptions {
  std::string base_folder = ".";  // the recipe's folder: where host files are looked for
  bool allow_host_path = false;   // host files anywhere, not only inside base_folder
};

// Reads and checks a whole recipe before anything is made: JSON (no
// duplicate keys), keys and types, ranges, host files, and what each step
// refers to. False with a message that starts with the place of the fault in
// the recipe, as jq writes it: `steps[3].arrange[2]: ...`.
bool ParseRecipe(const std::string& text, const RecipeOptions& options, Recipe* recipe,
                 std::string* error);

// The steps against each other: paths, pieces and sizes that earlier steps
// make, and what fits the volume. Part of ParseRecipe.
bool CheckRecipeSteps(const Recipe& recipe, std::string* error);

}  // namespace shardix::scenario
