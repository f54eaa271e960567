#include "fragment/random.h"

#include <ctime>
#include <random>

namespace shardix {

ShardixRandom& ProcessRandom() {
  static ShardixRandom random;
  return random;
}

void SeedRandom(uint32_t seed) { ProcessRandom().Seed(seed); }

uint32_t SystemRandomSeed() {
  std::random_device source;
  return static_cast<uint32_t>(source());
}

uint32_t TimeSeed() { return static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr))); }

}  // namespace shardix
