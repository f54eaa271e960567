#include "display/display.h"

namespace shardix {

void Display::SetStatusError(const std::string& text) {
  char line[kTextBufferBytes];  // the window shows 511 characters of it
  SetStatusText(FormatStatusError(line, sizeof line, text.c_str()));
}

}  // namespace shardix
