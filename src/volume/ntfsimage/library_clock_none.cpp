// Builds where the library's clock cannot be pinned.
#include <cstdint>

#include "volume/ntfsimage/image_builder.h"

namespace shardix {

void PinLibraryClock(int64_t) {}
void UnpinLibraryClock() {}

}  // namespace shardix
