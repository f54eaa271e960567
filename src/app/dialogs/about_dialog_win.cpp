// AboutDialogProc and its steps: the texts from the version block and the
// bitmap drawn through its transparency mask.
#include "app/dialogs/about_dialog_win.h"

#include <windows.h>

#include <cstdio>

#include "app/app_state_win.h"
#include "app/center_window_win.h"
#include "app/commands_win.h"
#include "display/text_util.h"
#include "app/ui_services_win.h"
#include "resource.h"

namespace shardix {
namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

GdiFailure Failed(const char* caption) { return {caption, GetLastError()}; }

// A memory drawing context with one bitmap selected into it, put back and
// deleted on every way out.
struct MemoryDc {
  HDC dc = nullptr;
  HGDIOBJ first = nullptr;  // what the context held before the first selection

  ~MemoryDc() {
    if (dc == nullptr) return;
    if (first != nullptr) SelectObject(dc, first);
    DeleteDC(dc);
  }
  GdiFailure Create(HDC compatible_with) {
    dc = CreateCompatibleDC(compatible_with);
    return dc != nullptr ? GdiFailure{} : Failed("CreateCompatibleDC() Error");
  }
  GdiFailure Select(HBITMAP bitmap) {
    HGDIOBJ previous = SelectObject(dc, bitmap);
    if (previous == nullptr || previous == HGDI_ERROR) return Failed("SelectObject() Error");
    if (first == nullptr) first = previous;
    return {};
  }
};

GdiFailure BitmapSize(HBITMAP bitmap, SIZE* size) {
  BITMAP info;
  if (GetObjectA(bitmap, sizeof info, &info) == 0) return Failed("GetObject() Error");
  *size = {info.bmWidth, info.bmHeight};
  return {};
}

// Where a failing step is reported: the About box's own message boxes.
void Report(HWND dialog, const GdiFailure& failure) {
  ReportSystemError(dialog, failure.caption, failure.code, MB_ICONERROR);
}

// The version block of the program's own file into a zeroed heap buffer,
// released on every way out, then the texts from it.
void ReadVersionTexts(HWND dialog) {
  // Wide: the ANSI name of a program in a folder outside the code page
  // names no file.
  wchar_t path[kTextBufferSize];
  const DWORD length = GetModuleFileNameW(nullptr, path, kTextBufferSize);
  if (length == 0 || length >= kTextBufferSize) {
    ReportSystemError(dialog, "GetModuleFileName() Error", length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER,
                      MB_ICONERROR);
    return;
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) {
    ReportSystemError(dialog, "GetFileVersionInfoSize() Error", GetLastError(), MB_ICONERROR);
    return;
  }
  void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  if (block == nullptr) {
    ReportSystemError(dialog, "HeapAlloc() Error", ERROR_NOT_ENOUGH_MEMORY, MB_ICONERROR);
    return;
  }
  if (GetFileVersionInfoW(path, 0, size, block)) {
    FillAboutTexts(dialog, block, VerQueryValueA);
  } else {
    ReportSystemError(dialog, "GetFileVersionInfo() Error", GetLastError(), MB_ICONERROR);
  }
  HeapFree(GetProcessHeap(), 0, block);
}

void FreeAboutBitmaps(AboutContext* context) {
  for (HBITMAP* bitmap : {&context->bitmap, &context->mask}) {
    if (*bitmap != nullptr && !DeleteObject(*bitmap)) {
      OutputDebugStringA("Shardix: DeleteObject failed on an About bitmap\n");
    }
    *bitmap = nullptr;
  }
}

void LoadAboutBitmaps(HWND dialog, AboutContext* context) {
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
  context->bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_ABOUT));
  if (context->bitmap == nullptr) {
    ReportSystemError(dialog, "LoadBitmap() Error", GetLastError(), MB_ICONERROR);
    return;
  }
  if (const GdiFailure failure = MakeTransparentMask(context->bitmap, &context->mask)) {
    Report(dialog, failure);
    FreeAboutBitmaps(context);
  }
}

void InitAboutDialog(HWND dialog, AboutContext* context) {
  if (HWND owner = GetWindow(dialog, GW_OWNER)) CenterWindowOnParent(dialog, owner);
  ReadVersionTexts(dialog);
  if (context != nullptr) LoadAboutBitmaps(dialog, context);
}

void PaintAboutBitmap(HWND dialog, AboutContext* context) {
  PAINTSTRUCT paint;
  if (BeginPaint(dialog, &paint) == nullptr) {
    OutputDebugStringA("Shardix: BeginPaint failed on the About box\n");
    return;
  }
  GdiFailure failure;
  if (context != nullptr && context->bitmap != nullptr && context->mask != nullptr) {
    HWND frame = GetDlgItem(dialog, IDC_ABOUT_PICTURE);
    // The frame paints its own background when its turn comes, which would
    // wipe out the picture: let it paint first.
    if (frame != nullptr) UpdateWindow(frame);
    HDC frame_dc = frame != nullptr ? GetDC(frame) : nullptr;
    if (frame_dc != nullptr) {
      failure = DrawTransparentBitmap(frame_dc, context->bitmap, context->mask);
      ReleaseDC(frame, frame_dc);
    } else {
      failure = Failed("GetDC() Error");
    }
  }
  EndPaint(dialog, &paint);
  // Once: the box itself repaints the dialog, and a failing repaint would
  // open another.
  if (failure && !context->paint_failure_reported) {
    context->paint_failure_reported = true;
    Report(dialog, failure);
  }
}

}  // namespace

void FillAboutTexts(HWND dialog, const void* block, VersionQuery query) {
  void* value = nullptr;
  UINT length = 0;
  if (!query(block, "\\VarFileInfo\\Translation", &value, &length) || value == nullptr || length < 2 * sizeof(WORD)) {
    return;
  }
  const WORD language = static_cast<const WORD*>(value)[0];
  const WORD code_page = static_cast<const WORD*>(value)[1];

  const struct {
    const char* name;
    int control;
    const char* format;  // %s: the value
    bool fixed_text;     // shows kAboutWebAddress when the value is there
  } kRows[] = {
      {"ProductName", IDC_ABOUT_PRODUCT_NAME, "%s", false},
      {"ProductVersion", IDC_ABOUT_VERSION, "Version %s", false},
      {"LegalCopyright", IDC_ABOUT_COPYRIGHT, "%s", false},
      {"CompanyName", IDC_ABOUT_COMPANY, "%s", false},
      {"CompanyName", IDC_ABOUT_WEBSITE, "%s", true},
  };
  for (const auto& row : kRows) {
    char key[kTextBufferSize];
    std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", language, code_page, row.name);
    value = nullptr;
    length = 0;
    if (!query(block, key, &value, &length) || value == nullptr) continue;
    // The value's length bounds the text: a block need not end it with a 0.
    char text_value[kTextBufferSize];
    std::snprintf(text_value, sizeof text_value, "%.*s", static_cast<int>(length), static_cast<const char*>(value));
    char text[kTextBufferSize];
    std::snprintf(text, sizeof text, row.format, row.fixed_text ? kAboutWebAddress : text_value);
    if (!SetDlgItemTextA(dialog, row.control, text)) {
      ReportSystemError(dialog, "SetDlgItemText() Error", GetLastError(), MB_ICONERROR);
    }
  }
}

GdiFailure MakeTransparentMask(HBITMAP bitmap, HBITMAP* mask) {
  *mask = nullptr;
  SIZE size;
  if (const GdiFailure failure = BitmapSize(bitmap, &size)) return failure;
  HBITMAP made = CreateBitmap(size.cx, size.cy, 1, 1, nullptr);
  if (made == nullptr) return Failed("CreateBitmap() Error");

  GdiFailure failure;
  {
    MemoryDc image;
    MemoryDc monochrome;
    if (!(failure = image.Create(nullptr)) && !(failure = monochrome.Create(nullptr)) &&
        !(failure = image.Select(bitmap)) && !(failure = monochrome.Select(made))) {
      const COLORREF transparent = GetPixel(image.dc, 0, 0);
      if (transparent == CLR_INVALID) {
        failure = Failed("GetPixel() Error");
      } else {
        // Colour to monochrome: the background colour becomes white, every
        // other colour black.
        SetBkColor(image.dc, transparent);
        if (!BitBlt(monochrome.dc, 0, 0, size.cx, size.cy, image.dc, 0, 0, SRCCOPY)) {
          failure = Failed("BitBlt() Error");
        } else {
          // Monochrome to colour: white becomes the background (black) and
          // black the text colour (white), so AND blacks out the transparent
          // pixels and keeps the rest.
          SetTextColor(image.dc, kWhite);
          SetBkColor(image.dc, kBlack);
          if (!BitBlt(image.dc, 0, 0, size.cx, size.cy, monochrome.dc, 0, 0, SRCAND)) {
            failure = Failed("BitBlt() Error");
          }
        }
      }
    }
  }  // the bitmaps leave their contexts here, before the mask can be freed
  if (failure) {
    DeleteObject(made);
    return failure;
  }
  *mask = made;
  return {};
}

GdiFailure DrawTransparentBitmap(HDC target, HBITMAP bitmap, HBITMAP mask) {
  SIZE size;
  if (const GdiFailure failure = BitmapSize(mask, &size)) return failure;
  // Monochrome to colour on the target: the mask's black (the picture) turns
  // black, its white (transparent) white; the context may have other colours.
  const COLORREF old_text = SetTextColor(target, kBlack);
  const COLORREF old_background = SetBkColor(target, kWhite);
  GdiFailure failure;
  {
    MemoryDc memory;
    if (!(failure = memory.Create(target)) && !(failure = memory.Select(mask))) {
      if (!BitBlt(target, 0, 0, size.cx, size.cy, memory.dc, 0, 0, SRCAND)) {
        failure = Failed("BitBlt() Error");
      } else if (!(failure = memory.Select(bitmap)) &&
                 !BitBlt(target, 0, 0, size.cx, size.cy, memory.dc, 0, 0, SRCPAINT)) {
        failure = Failed("BitBlt() Error");
      }
    }
  }
  SetTextColor(target, old_text);
  SetBkColor(target, old_background);
  return failure;
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* context = reinterpret_cast<AboutContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      InitAboutDialog(dialog, reinterpret_cast<AboutContext*>(lparam));
      return TRUE;
    case WM_PAINT:
      PaintAboutBitmap(dialog, context);
      return TRUE;
    case WM_DESTROY:
      if (context != nullptr) FreeAboutBitmaps(context);
      return TRUE;
    case WM_COMMAND:
      // OK, and the cancel command that Escape and the close box send.
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        if (!EndDialog(dialog, 0)) ReportSystemError(dialog, "EndDialog() Error", GetLastError(), MB_ICONERROR);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

bool ShowAboutBox(HWND window) {
  AboutContext context;
  const INT_PTR result = DialogBoxParamA(g_app.instance, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDialogProc,
                                         reinterpret_cast<LPARAM>(&context));
  if (result == -1) {
    ReportSystemError(window, "DialogBoxParam() Error", GetLastError(), MB_ICONERROR);
    return false;
  }
  return true;
}

}  // namespace shardix
