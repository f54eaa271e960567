// Control texts: UTF-8 in the program, UTF-16 at the window system, so any
// name shows and reads back as it is. Buffers count characters (UTF-16
// units), as the window system does.
#pragma once

#include <windows.h>

#include <string>

namespace shardix {

// The control's text, up to kTextBufferSize - 1 characters. *valid (when
// given) turns false when the text is not valid UTF-16 (an unpaired
// surrogate, shown here as U+FFFD).
std::string ControlText(HWND control, bool* valid = nullptr);
std::string DialogItemText(HWND window, int id, bool* valid = nullptr);

// Sets the control's text, cut after kTextBufferSize - 1 characters (never
// inside a character made of two units).
bool SetControlText(HWND control, const std::string& text);
bool SetDialogItemText(HWND window, int id, const std::string& text);

// The wide text of `text`, cut as SetControlText cuts it.
std::wstring WideControlText(const std::string& text);

}  // namespace shardix
