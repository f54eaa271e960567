// The placement methods by the names the command line and recipes take.
#pragma once

#include <cstdint>
#include <string>

namespace shardix {

// concentrated, scattered, random, first-fit; also firstfit and first_fit,
// in any case.
bool PlacementMethodByName(std::string name, int32_t* method);
std::string PlacementMethodName(int32_t method);

}  // namespace shardix
