#include "display/display.h"

namespace shardix {

void Display::SetStatusError(const std::string& text) {
  char line[kTextBufferSize];
  SetStatusText(FormatStatusError(line, sizeof line, text.c_str()));
}

}  // namespace shardix
