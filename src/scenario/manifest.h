// The manifest of a scenario image: JSON (IMAGE.manifest.json) and a plain
// table beside it (IMAGE.manifest.txt), and reading the JSON back.
#pragma once

#include <string>

#include "scenario/scenario.h"

namespace shardix::scenario {

std::string ManifestJson(const Recipe& recipe, const ScenarioResult& result,
                         const std::string& image_name);
std::string ManifestTable(const Recipe& recipe, const ScenarioResult& result,
                          const std::string& image_name);

// What --verify and score need of a manifest: the image, its geometry,
// digests, files and remnants.
struct Manifest {
  std::string image;         // the image's file name, as the manifest gives it
  uint64_t image_bytes = 0;  // 0 when not given
  uint32_t cluster_size = 0;
  uint32_t sector_size = 0;
  uint64_t volume_offset = 0;  // bytes from a disk's start to its volume; 0 for a bare volume
  uint64_t volume_bytes = 0;   // 0 when not given: the whole image
  std::string partition_table;  // "mbr" or "gpt" on a disk, else ""
  uint64_t seed = 0;
  std::string image_sha256;
  std::string free_sha256;
  std::string metadata_sha256;
  std::vector<FileRecord> files;
  std::vector<Remnant> remnants;
};
bool ReadManifest(const std::string& text, Manifest* manifest, std::string* error);

// A name for people: bytes that are not well-formed UTF-8 shown as U+FFFD.
std::string ManifestName(const std::string& name);

}  // namespace shardix::scenario
