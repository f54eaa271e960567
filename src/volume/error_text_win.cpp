// Message texts from the system's message table.
#include <windows.h>

#include <string>

#include "volume/error_codes.h"
#include "volume/wide_text.h"

namespace shardix {

std::string ErrorMessage(uint32_t code) {
  if (const char* own = OwnErrorMessage(code)) return own;
  // Wide, so a message in any language reaches the UTF-8 text intact.
  wchar_t text[512] = {};
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, 512, nullptr);
  if (length == 0) return "Unknown error " + std::to_string(code) + ".";
  std::string message = Utf8FromWide(std::wstring_view(text, length));
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.pop_back();
  return message;
}

}  // namespace shardix
