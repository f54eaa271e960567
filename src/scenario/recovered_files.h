// The files a recovery tool wrote: listed under a folder, then read in
// cluster-sized blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace shardix::scenario {

struct FoundFile {
  std::string path;  // relative to the folder, its exact bytes
  uint64_t size = 0;
};

// Every regular file under `folder`, at any depth, sorted by path. Symbolic
// links are neither followed nor listed. False with "cannot open PATH:
// reason" when the folder or a folder under it cannot be read.
bool ListRecoveredFiles(const std::string& folder, std::vector<FoundFile>* files, std::string* error);

// Reads the file at `path` from start to end and hands over its bytes in
// blocks of `block` bytes, each at an offset that is a multiple of `block`
// (the last one shorter). False with "cannot open PATH: reason" on failure.
bool ReadInBlocks(const std::string& path, uint32_t block,
                  const std::function<void(const uint8_t* data, std::size_t length)>& take,
                  std::string* error);

}  // namespace shardix::scenario
