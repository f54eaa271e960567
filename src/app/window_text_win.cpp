#include "app/window_text_win.h"

#include "display/text_util.h"
#include "volume/wide_text.h"

namespace shardix {

std::string ControlText(HWND control, bool* valid) {
  wchar_t text[kTextBufferSize] = L"";
  const int length = GetWindowTextW(control, text, static_cast<int>(kTextBufferSize));
  return Utf8FromWide(std::wstring_view(text, length > 0 ? static_cast<size_t>(length) : 0), valid);
}

std::string DialogItemText(HWND window, int id, bool* valid) {
  return ControlText(GetDlgItem(window, id), valid);
}

std::wstring WideControlText(const std::string& text) {
  std::wstring wide = WideFromUtf8(text);
  if (wide.size() > kTextBufferSize - 1) {
    size_t cut = kTextBufferSize - 1;
    if (wide[cut - 1] >= 0xD800 && wide[cut - 1] <= 0xDBFF) --cut;  // keep a pair whole
    wide.resize(cut);
  }
  return wide;
}

bool SetControlText(HWND control, const std::string& text) {
  return SetWindowTextW(control, WideControlText(text).c_str()) != FALSE;
}

bool SetDialogItemText(HWND window, int id, const std::string& text) {
  return SetControlText(GetDlgItem(window, id), text);
}

}  // namespace shardix
