// What a job works on, handed over explicitly so that two jobs (or two
// tests) never share state through process-wide variables.
#pragma once

#include <atomic>

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

  bool StopRequested() const { return stop_requested && stop_requested->load(); }
};

// The result of a job that stopped because the program is closing; it is
// never shown to anyone.
constexpr int kJobStopped = -100;

}  // namespace shardix
