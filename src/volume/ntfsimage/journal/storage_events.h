// What the image backend writes, flushes and removes, in order: the seam the
// power-cut tests record at, and the knobs they and the benchmarks turn. No
// library headers here.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace shardix::ntfsimage {

enum class StorageTarget { kImage, kJournal };
enum class StorageOp { kWrite, kSync, kRemove };

struct StorageEvent {
  StorageTarget target = StorageTarget::kImage;
  StorageOp op = StorageOp::kWrite;
  int64_t offset = 0;           // kWrite only
  std::vector<uint8_t> bytes;   // kWrite only
};

// Every write and flush of an image and of its journal, and the journal's
// removal, as they reach the system, from now on until an empty recorder is
// set. For tests: it copies every byte written.
void SetStorageRecorder(std::function<void(const StorageEvent&)> recorder);

// How long the moves of one journal transaction may gather before they are
// committed (default 100 ms); 0 commits after every move.
void SetJournalGroupWindow(int milliseconds);

}  // namespace shardix::ntfsimage
