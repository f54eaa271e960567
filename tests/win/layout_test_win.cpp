// The main window's layout on resize and its size limits.
#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/layout_win.h"
#include "resource.h"
#include "test_support_win.h"

namespace shardix::test {
namespace {

RECT ClientRectOf(HWND window, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

int Height(const RECT& rect) { return rect.bottom - rect.top; }
int Width(const RECT& rect) { return rect.right - rect.left; }

struct Anchored {
  int id;
  int distance;  // dialog units from the client area's bottom to the top
};
const Anchored kAnchored[] = {
    {IDC_HELP_BUTTON, 25}, {IDC_ABOUT, 25},       {IDC_CLOSE, 25},         {IDC_STATUS, 35},
    {IDC_PROGRESS, 55},    {IDC_ANALYZE_FILE, 75}, {IDC_VOLUME_INFO, 75}, {IDC_FRAGMENT, 75},
    {IDC_DEFRAGMENT, 75},
};
// Controls that never move, and the list's own left, top and width.
const int kFixed[] = {IDC_FILE_NAME, IDC_BROWSE, IDC_SETTINGS_GROUP, IDC_FRAGMENT_SIZE, IDC_BEFORE_BAR,
                      IDC_AFTER_BAR, IDC_FILE_SIZE_VALUE, IDC_PERCENT_AFTER};

class Layout : public MainWindowTest {
 protected:
  RECT WindowRect() const {
    RECT rect;
    GetWindowRect(window_, &rect);
    return rect;
  }
  int ClientHeight() const {
    RECT client;
    GetClientRect(window_, &client);
    return client.bottom;
  }
  void Resize(int width, int height) {
    ASSERT_TRUE(SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    PumpPendingMessages(window_);
  }
  MINMAXINFO Query() {
    MINMAXINFO info = {};
    info.ptMaxSize = {1111, 999};
    info.ptMaxPosition = {-4, -4};
    info.ptMinTrackSize = {10, 10};
    info.ptMaxTrackSize = {3000, 2000};
    SendMessageA(window_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    return info;
  }
  // Every anchored control at its distance from the bottom, the list filling
  // the rest, all at the current client height.
  void ExpectLaidOut(const RECT& list_before) {
    const int height = ClientHeight();
    for (const Anchored& anchored : kAnchored) {
      EXPECT_EQ(ClientRectOf(window_, Item(anchored.id)).top,
                height - DialogUnitsToPixelsY(window_, anchored.distance))
          << "control " << anchored.id << " at client height " << height;
    }
    const RECT list = ClientRectOf(window_, Item(IDC_FRAGMENT_LIST));
    EXPECT_EQ(list.left, list_before.left);
    EXPECT_EQ(list.top, list_before.top);
    EXPECT_EQ(Width(list), Width(list_before));
    EXPECT_EQ(Height(list), height - DialogUnitsToPixelsY(window_, 293));
  }
};

TEST_F(Layout, ControlsKeepTheirDistanceToTheBottomAtAnyHeight) {
  const RECT first = WindowRect();
  const RECT list_before = ClientRectOf(window_, Item(IDC_FRAGMENT_LIST));
  RECT fixed_before[std::size(kFixed)];
  for (size_t i = 0; i < std::size(kFixed); ++i) fixed_before[i] = ClientRectOf(window_, Item(kFixed[i]));
  RECT sizes_before[std::size(kAnchored)];
  for (size_t i = 0; i < std::size(kAnchored); ++i) sizes_before[i] = ClientRectOf(window_, Item(kAnchored[i].id));

  for (int extra : {120, 37, 0}) {
    SCOPED_TRACE("taller by " + std::to_string(extra));
    Resize(Width(first), Height(first) + extra);
    ExpectLaidOut(list_before);
    for (size_t i = 0; i < std::size(kFixed); ++i) {
      const RECT now = ClientRectOf(window_, Item(kFixed[i]));
      EXPECT_TRUE(EqualRect(&now, &fixed_before[i])) << "control " << kFixed[i] << " moved";
    }
    for (size_t i = 0; i < std::size(kAnchored); ++i) {
      const RECT now = ClientRectOf(window_, Item(kAnchored[i].id));
      EXPECT_EQ(now.left, sizes_before[i].left) << kAnchored[i].id;
      EXPECT_EQ(Width(now), Width(sizes_before[i])) << kAnchored[i].id;
      EXPECT_EQ(Height(now), Height(sizes_before[i])) << kAnchored[i].id;
    }
  }
}

TEST_F(Layout, FirstSizeIsTheMinimumAndTheOnlyWidth) {
  const RECT first = WindowRect();
  MINMAXINFO info = Query();
  EXPECT_EQ(info.ptMinTrackSize.x, Width(first));
  EXPECT_EQ(info.ptMaxTrackSize.x, Width(first));
  EXPECT_EQ(info.ptMinTrackSize.y, Height(first));
  EXPECT_EQ(info.ptMaxTrackSize.y, 2000);
  EXPECT_EQ(info.ptMaxSize.x, 1111);
  EXPECT_EQ(info.ptMaxPosition.y, -4);

  // The system holds a resizing program to the limits as well.
  Resize(Width(first) + 80, Height(first) + 60);
  EXPECT_EQ(Width(WindowRect()), Width(first));
  EXPECT_EQ(Height(WindowRect()), Height(first) + 60);
  Resize(Width(first) - 80, Height(first) - 60);
  EXPECT_EQ(Width(WindowRect()), Width(first));
  EXPECT_EQ(Height(WindowRect()), Height(first));
  // Grown and queried again, the minimum is still the first height.
  Resize(Width(first), Height(first) + 90);
  EXPECT_EQ(Query().ptMinTrackSize.y, Height(first));
}

TEST_F(Layout, SizeQueryBeforeTheWindowIsKnownChangesNothing) {
  const RECT first = WindowRect();
  // As while the window is being created: its handle is not known yet.
  g_app.main_window = nullptr;
  const MINMAXINFO untouched = Query();
  EXPECT_EQ(untouched.ptMinTrackSize.x, 10);
  EXPECT_EQ(untouched.ptMaxTrackSize.x, 3000);
  EXPECT_EQ(untouched.ptMinTrackSize.y, 10);
  // Resized meanwhile, without limits; the first rectangle is the one the
  // window has when its handle is known.
  Resize(Width(first), Height(first) + 50);
  g_app.main_window = window_;
  EXPECT_EQ(Query().ptMinTrackSize.y, Height(first) + 50);
}

TEST_F(Layout, MinimisedWindowKeepsItsLayoutAndRestoringLaysItOutAgain) {
  const RECT first = WindowRect();
  const RECT list_before = ClientRectOf(window_, Item(IDC_FRAGMENT_LIST));
  Resize(Width(first), Height(first) + 70);
  const RECT list_tall = ClientRectOf(window_, Item(IDC_FRAGMENT_LIST));
  const RECT close_tall = ClientRectOf(window_, Item(IDC_CLOSE));

  ShowWindow(window_, SW_MINIMIZE);
  PumpPendingMessages(window_);
  ASSERT_TRUE(IsIconic(window_));
  RECT list_now = ClientRectOf(window_, Item(IDC_FRAGMENT_LIST));
  RECT close_now = ClientRectOf(window_, Item(IDC_CLOSE));
  EXPECT_EQ(Height(list_now), Height(list_tall));
  EXPECT_EQ(close_now.top - list_now.top, close_tall.top - list_tall.top);

  ShowWindow(window_, SW_RESTORE);
  PumpPendingMessages(window_);
  ASSERT_FALSE(IsIconic(window_));
  EXPECT_EQ(Height(WindowRect()), Height(first) + 70);
  ExpectLaidOut(list_before);
}

TEST_F(Layout, ShorterThanTheListRoomLeavesAnEmptyList) {
  // Only a program can make the window this short (the limits bind the
  // user); the list then has no height rather than a negative one.
  OnSize(window_, 100, DialogUnitsToPixelsY(window_, 200));
  EXPECT_EQ(Height(ClientRectOf(window_, Item(IDC_FRAGMENT_LIST))), 0);
}

TEST_F(Layout, AnchorToBottomKeepsTheOuterSizeOfABorderedControl) {
  HWND list = Item(IDC_FRAGMENT_LIST);
  const RECT before = ClientRectOf(window_, list);
  RECT client;
  GetClientRect(list, &client);
  ASSERT_LT(client.bottom, Height(before)) << "the list has a border";

  ASSERT_TRUE(AnchorToBottom(list, 100, 700, true));
  const RECT after = ClientRectOf(window_, list);
  EXPECT_EQ(after.top, 700 - DialogUnitsToPixelsY(window_, 100));
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(Width(after), Width(before));
  EXPECT_EQ(Height(after), Height(before));
}

}  // namespace
}  // namespace shardix::test
