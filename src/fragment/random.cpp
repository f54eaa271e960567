#include "fragment/random.h"

#include <ctime>

namespace shardix {

ShardixRandom& ProcessRandom() {
  static ShardixRandom random;
  return random;
}

void SeedRandom(uint32_t seed) { ProcessRandom().Seed(seed); }

uint32_t TimeSeed() { return static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr))); }

}  // namespace shardix
