// What a job works on, handed over explicitly so that two jobs (or two
// tests) never share state through process-wide variables.
#pragma once

#include <atomic>
#include <cstdint>

namespace shardix {

class Display;
class ShardixRandom;
class Volume;
class VolumeFile;

struct JobContext {
  Volume* volume = nullptr;
  VolumeFile* file = nullptr;
  Display* display = nullptr;
  ShardixRandom* random = nullptr;  // the placement methods' generator
  // Set when the program is closing: the job stops after the move in flight.
  const std::atomic<bool>* stop_requested = nullptr;
  // What the job has moved so far, whatever its result: whole fragments for
  // Fragment, pieces (one per free run filled) for Defragment. Front ends
  // read it once the job has returned, to say how far a job got.
  uint64_t moved = 0;

  bool StopRequested() const { return stop_requested && stop_requested->load(); }
};

// The result of a job that stopped because the program is closing; it is
// never shown to anyone.
constexpr int kJobStopped = -100;

}  // namespace shardix
