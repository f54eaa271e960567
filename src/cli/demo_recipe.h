// The demo image's recipe (examples/scenarios/demo.json), compiled into
// the program where the scenario builder is.
#pragma once

namespace shardix::cli {

extern const char* const kDemoRecipe;

}  // namespace shardix::cli
