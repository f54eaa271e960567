// Message texts from the system's message table.
#include <windows.h>

#include <string>

#include "volume/error_codes.h"

namespace shardix {

std::string ErrorMessage(uint32_t code) {
  if (const char* own = OwnErrorMessage(code)) return own;
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  if (length == 0) {
    snprintf(text, sizeof text, "Unknown error %lu.", static_cast<unsigned long>(code));
    return text;
  }
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.pop_back();
  return message;
}

}  // namespace shardix
