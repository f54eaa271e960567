// What a job works on, handed over explicitly so that two jobs (or two
// tests) never share state through process-wide variables.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace shardix {

class Display;
class ShardixRandom;
class Volume;
class VolumeFile;

// One move of a job's plan: `clusters` clusters of the file from `vcn`, to
// go to `lcn`.
struct PlannedPiece {
  int64_t vcn = 0;
  int64_t clusters = 0;
  int64_t lcn = 0;
};

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
  // Move requests that succeeded (a piece longer than one request takes
  // several).
  uint64_t requests = 0;
  // Why the job would not start (the volume could not keep its moves);
  // nothing was moved.
  std::string refusal{};
  // Pieces the plan found room for before the first move.
  uint64_t planned = 0;
  // Set by CloseJobWrites once the job has returned: of `moved`, those that
  // reached the disk, and the error that kept the others from it.
  uint64_t committed = 0;
  uint32_t write_error = 0;
  int64_t committed_at_start = -1;

  bool StopRequested() const { return stop_requested && stop_requested->load(); }
};

// Around a job's moves: notes what the volume had committed before them,
// and afterwards makes every move reach the disk (Volume::Close) and counts
// those that did. Returns the close's error (0 when all are on the disk).
void NoteJobStart(JobContext& context);
uint32_t CloseJobWrites(JobContext& context);

// The result of a job that stopped because the program is closing; it is
// never shown to anyone.
constexpr int kJobStopped = -100;

}  // namespace shardix
