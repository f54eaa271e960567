// The status line and its colour, the progress bar and the settings switch.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "app/main_window_win.h"
#include "resource.h"
#include "test_support_win.h"

namespace shardix::test {
namespace {

constexpr COLORREF kPlainColor = RGB(1, 2, 3);

struct StaticColors {
  COLORREF text;
  int background_mode;
  LRESULT brush;
};

// What the main window answers a static control that is about to paint.
StaticColors AskColors(HWND window, HWND control) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, kPlainColor);
  SetBkMode(dc, OPAQUE);
  StaticColors colors;
  colors.brush = SendMessageA(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                              reinterpret_cast<LPARAM>(control));
  colors.text = GetTextColor(dc);
  colors.background_mode = GetBkMode(dc);
  DeleteDC(dc);
  return colors;
}

// Paints the status line into a bitmap and counts its clearly red pixels.
int RedPixelsOfStatusLine(HWND status) {
  RECT client;
  GetClientRect(status, &client);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = client.right;
  info.bmiHeader.biHeight = -client.bottom;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) {
    DeleteDC(dc);
    return -1;
  }
  HGDIOBJ old = SelectObject(dc, bitmap);
  SendMessageA(status, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  GdiFlush();
  int red = 0;
  const auto* pixels = static_cast<const DWORD*>(bits);
  for (LONG i = 0; i < client.right * client.bottom; ++i) {
    const DWORD pixel = pixels[i];  // 0x00RRGGBB
    if (((pixel >> 16) & 0xFF) > 180 && ((pixel >> 8) & 0xFF) < 90 && (pixel & 0xFF) < 90) ++red;
  }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return red;
}

using StatusLine = MainWindowTest;

TEST_F(StatusLine, SetStatusTextWritesTheTextUnchanged) {
  EXPECT_EQ(ItemText(IDC_STATUS), "");
  SetStatusText("Fragmentation has started...");
  EXPECT_EQ(ItemText(IDC_STATUS), "Fragmentation has started...");
  SetStatusText("");
  EXPECT_EQ(ItemText(IDC_STATUS), "");
}

TEST_F(StatusLine, ErrorTextsAreRedOthersKeepTheirColour) {
  HWND status = Item(IDC_STATUS);
  const LRESULT button_face = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));

  SetStatusError("File is too small to fragment.");
  EXPECT_EQ(ItemText(IDC_STATUS), "Error: File is too small to fragment.");
  StaticColors colors = AskColors(window_, status);
  EXPECT_EQ(colors.text, RGB(255, 0, 0));
  EXPECT_EQ(colors.background_mode, TRANSPARENT);
  EXPECT_EQ(colors.brush, button_face);

  // Plain texts: the first five characters decide, case-sensitively.
  SetStatusText("Errors were found");
  EXPECT_EQ(AskColors(window_, status).text, RGB(255, 0, 0));
  for (const char* plain : {"error: lower case", "ERROR", "Erro", " Error", "File was successfully fragmented!", ""}) {
    SetStatusText(plain);
    colors = AskColors(window_, status);
    EXPECT_EQ(colors.text, kPlainColor) << plain;
    EXPECT_EQ(colors.background_mode, TRANSPARENT) << plain;
    EXPECT_EQ(colors.brush, button_face) << "one brush for every repaint";
  }
}

TEST_F(StatusLine, OtherStaticsGetATransparentBackgroundAndTheDefaultAnswer) {
  SetDlgItemTextA(window_, IDC_FILE_NAME_VALUE, "Error in a name");
  HWND other = Item(IDC_FILE_NAME_VALUE);
  const StaticColors colors = AskColors(window_, other);
  EXPECT_EQ(colors.background_mode, TRANSPARENT);
  EXPECT_NE(colors.text, RGB(255, 0, 0));

  HDC dc = CreateCompatibleDC(nullptr);
  const LRESULT by_default = DefWindowProcA(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                            reinterpret_cast<LPARAM>(other));
  DeleteDC(dc);
  EXPECT_EQ(colors.brush, by_default);
}

TEST_F(StatusLine, ErrorTextIsPaintedRed) {
  HWND status = Item(IDC_STATUS);
  SetStatusError("WWWWWWWWWWWWWWWW");
  EXPECT_GT(RedPixelsOfStatusLine(status), 20);
  SetStatusText("error: WWWWWWWWWWWWWWWW");
  EXPECT_EQ(RedPixelsOfStatusLine(status), 0);
}

TEST_F(StatusLine, OverlongErrorIsCutToTheBuffer) {
  const std::string text(4000, 'x');
  SetStatusError(text.c_str());
  const std::string shown = ItemText(IDC_STATUS);
  EXPECT_EQ(shown.size(), 511u);
  EXPECT_EQ(shown.substr(0, 7), "Error: ");
  EXPECT_EQ(shown.find_first_not_of('x', 7), std::string::npos);
  EXPECT_TRUE(IsWindow(window_));
}

TEST_F(StatusLine, SetProgressTakesTheLow32Bits) {
  HWND bar = Item(IDC_PROGRESS);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
  SendMessageA(bar, PBM_SETRANGE32, 0, 0x7FFFFFFF);
  SetProgress(1234);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 1234);
  SetProgress(0x100000005ull);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 5);
}

TEST_F(StatusLine, EnableSettingsSwitchesTheGroupOnly) {
  const int kOutside[] = {IDC_FILE_NAME, IDC_BROWSE, IDC_ANALYZE_FILE, IDC_HELP_BUTTON, IDC_ABOUT, IDC_CLOSE};
  for (bool enable : {true, false, true}) {
    EnableSettings(window_, enable);
    for (int id : kSettingsGroup) EXPECT_EQ(IsWindowEnabled(Item(id)) != FALSE, enable) << id;
    for (int id : kOutside) EXPECT_TRUE(IsWindowEnabled(Item(id))) << id;
  }
  EnableWindow(Item(IDC_FILE_NAME), FALSE);
  EnableSettings(window_, false);
  EXPECT_FALSE(IsWindowEnabled(Item(IDC_FILE_NAME))) << "left as it was";
}

TEST_F(StatusLine, OtherThreadsWriteThroughTheWindowThread) {
  // A worker's writes wait for the window thread, which carries them out
  // while it pumps messages.
  struct Job {
    HANDLE done;
    HWND window;
  } job{CreateEventA(nullptr, TRUE, FALSE, nullptr), window_};
  ASSERT_NE(job.done, nullptr);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* parameter) -> DWORD {
        auto* job = static_cast<Job*>(parameter);
        SetStatusError("from a worker");
        SetProgress(3);
        EnableSettings(job->window, true);
        SetEvent(job->done);
        return 1;
      },
      &job, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  while (MsgWaitForMultipleObjects(1, &job.done, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    PumpPendingMessages(window_);
  }
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(job.done);
  EXPECT_EQ(ItemText(IDC_STATUS), "Error: from a worker");
  EXPECT_EQ(SendMessageA(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 3);
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_FRAGMENT)));
}

}  // namespace
}  // namespace shardix::test
