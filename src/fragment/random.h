// The program's own pseudo-random generator: a 32-bit linear congruential
// generator, so the placement methods draw the same sequence for the same
// seed on every platform and with every C library.
#pragma once

#include <cstdint>

namespace shardix {

class ShardixRandom {
 public:
  static constexpr uint32_t kMax = 0x7FFF;

  explicit ShardixRandom(uint32_t seed = 1) : state_(seed) {}

  void Seed(uint32_t seed) { state_ = seed; }
  uint32_t State() const { return state_; }

  // Advances the state and returns its bits 16 to 30 (0 to kMax).
  uint32_t Next() {
    state_ = state_ * 214013u + 2531011u;
    return (state_ >> 16) & kMax;
  }

 private:
  uint32_t state_;
};

// The process's generator: one per process, seeded once at start-up and
// drawn from only by the job that runs at the time (at most one runs).
ShardixRandom& ProcessRandom();
void SeedRandom(uint32_t seed);

// The low 32 bits of the current calendar time in seconds: the start-up seed.
uint32_t TimeSeed();

// A seed from the operating system's random source, for a command line that
// prints the seed it drew: two runs started in the same second differ.
uint32_t SystemRandomSeed();

}  // namespace shardix
