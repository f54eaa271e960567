// The About box (dialog template 109): the product's name, version, company
// and legal notice from the program's own version block, the maker's web
// address, and a bitmap whose top-left colour is drawn transparent.
#pragma once

#include <windows.h>

namespace shardix {

// Shown in the About box when the version block names the company.
constexpr char kAboutWebAddress[] = "https://quorvane.example/shardix";

// The About box's own values, given to the dialog as its creation parameter:
// the bitmap and its transparency mask while the box is open.
struct AboutContext {
  HBITMAP bitmap = nullptr;
  HBITMAP mask = nullptr;
  bool paint_failure_reported = false;
};

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Opens the About box modally over `window`. Returns false when it could not
// be shown (reported in a box).
bool ShowAboutBox(HWND window);

// How FillAboutTexts reads a version block: VerQueryValueA, or a stand-in.
using VersionQuery = BOOL(WINAPI*)(LPCVOID block, LPCSTR key, LPVOID* value, PUINT length);

// Sets the About box's texts from `block`, using the first language and code
// page of its "\VarFileInfo\Translation" value. A text whose value is
// missing keeps the template's text; without the translation value all do.
void FillAboutTexts(HWND dialog, const void* block, VersionQuery query);

// A GDI step that failed: the caption naming the call, and the error code.
struct GdiFailure {
  const char* caption = nullptr;
  DWORD code = 0;
  explicit operator bool() const { return caption != nullptr; }
};

// Makes `*mask`, a monochrome bitmap of `bitmap`'s size that is white where
// `bitmap` has exactly the colour of its top-left pixel and black elsewhere,
// and turns those pixels of `bitmap` black. On failure nothing is left for
// the caller to free in `*mask`.
GdiFailure MakeTransparentMask(HBITMAP bitmap, HBITMAP* mask);

// Draws `bitmap` at (0, 0) of `target` at its own size, leaving `target` as
// it was where `mask` is white.
GdiFailure DrawTransparentBitmap(HDC target, HBITMAP bitmap, HBITMAP mask);

}  // namespace shardix
