// A picture of a scenario image's layout (IMAGE.map.svg): the volume as rows
// of cells, each listed file's pieces in a colour of its own and numbered,
// deleted files and remnants hatched, metadata dark grey, free space white.
#pragma once

#include <string>

#include "scenario/scenario.h"

namespace shardix::scenario {

// The whole SVG document. The same result always gives the same bytes.
std::string LayoutMapSvg(const ScenarioResult& result, const std::string& image_name);

// Text fit for XML character data and attribute values: & < > " ' escaped,
// bytes that are not well-formed UTF-8 and U+FFFE, U+FFFF as U+FFFD, and
// control characters XML does not allow as a visible \xNN.
std::string XmlText(const std::string& text);

}  // namespace shardix::scenario
