// The main window as start-up leaves it, and its message and command tables.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state_win.h"
#include "app/main_window_win.h"
#include "fragment/random.h"
#include "resource.h"
#include "test_support_win.h"

namespace shardix::test {
namespace {

struct ExpectedControl {
  int id;
  const char* class_name;
  const char* text;
  RECT position;  // dialog units: x, y, width, height
  bool enabled;
  DWORD style_mask;
  DWORD style;
  DWORD ex_style;  // bits that must be set
  bool check_position = true;
};

// The template's controls (the unnamed "File to fragment:" label is checked
// separately, having no identifier).
const std::vector<ExpectedControl>& TemplateControls() {
  static const std::vector<ExpectedControl> controls = {
      {IDC_FILE_NAME, "Edit", "", {79, 10, 170, 14}, true, ES_AUTOHSCROLL, ES_AUTOHSCROLL, 0},
      {IDC_BROWSE, "Button", "...", {255, 10, 21, 14}, true, BS_TYPEMASK, BS_PUSHBUTTON, 0},
      // The up-down moves to its buddy's right edge and narrows the buddy.
      {IDC_FRAGMENT_COUNT, "Edit", "0", {32, 68, 54, 14}, false, ES_NUMBER | ES_RIGHT, ES_NUMBER | ES_RIGHT, 0, false},
      {IDC_FRAGMENT_SIZE, "msctls_trackbar32", "", {105, 62, 88, 25}, false, TBS_AUTOTICKS, TBS_AUTOTICKS, 0},
      // A drop-down combo box is as high as its edit field.
      {IDC_PLACEMENT_METHOD, "ComboBox", "Concentrated", {209, 68, 63, 50}, false,
       CBS_DROPDOWNLIST | CBS_NOINTEGRALHEIGHT, CBS_DROPDOWNLIST | CBS_NOINTEGRALHEIGHT, 0, false},
      {IDC_FRAGMENT_LIST, "SysListView32", "", {20, 209, 265, 55}, true,
       LVS_TYPEMASK | LVS_SINGLESEL, LVS_REPORT | LVS_SINGLESEL, 0},
      {IDC_ANALYZE_FILE, "Button", "Analyze File", {20, 269, 61, 15}, true, BS_TYPEMASK, BS_DEFPUSHBUTTON, 0},
      {IDC_VOLUME_INFO, "Button", "Volume Info...", {117, 269, 55, 15}, false, BS_TYPEMASK, BS_PUSHBUTTON, 0},
      {IDC_FRAGMENT, "Button", "Fragment", {176, 269, 50, 15}, false, BS_TYPEMASK, BS_PUSHBUTTON, 0},
      {IDC_DEFRAGMENT, "Button", "Defragment", {229, 269, 56, 15}, false, BS_TYPEMASK, BS_PUSHBUTTON, 0},
      {IDC_HELP_BUTTON, "Button", "Help", {110, 319, 55, 15}, true, BS_TYPEMASK, BS_PUSHBUTTON, 0},
      {IDC_ABOUT, "Button", "About", {170, 319, 55, 15}, true, BS_TYPEMASK, BS_PUSHBUTTON, 0},
      {IDC_CLOSE, "Button", "&Close", {230, 319, 55, 15}, true, BS_TYPEMASK, BS_PUSHBUTTON, 0},
      {IDC_MAX_LABEL, "Static", "Max:", {25, 87, 18, 10}, false, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_MAX_VALUE, "Static", "", {45, 87, 28, 10}, true, SS_TYPEMASK, SS_RIGHT, 0},
      {IDC_PROGRESS, "msctls_progress32", "", {20, 289, 265, 15}, true, PBS_SMOOTH, PBS_SMOOTH, 0},
      {IDC_AFTER_BAR, "Static", "", {20, 184, 265, 20}, true, SS_TYPEMASK, SS_WHITERECT, WS_EX_TRANSPARENT},
      {IDC_BEFORE_BAR, "Static", "", {20, 149, 265, 20}, true, SS_TYPEMASK, SS_WHITERECT, WS_EX_TRANSPARENT},
      {IDC_BEFORE_LABEL, "Static", "Before Fragmentation", {20, 139, 73, 10}, true, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_AFTER_LABEL, "Static", "After Fragmentation", {20, 174, 73, 10}, true, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_FRAGMENT_SIZE_LABEL, "Static", "Size of Fragments", {122, 51, 58, 10}, false, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_LOCATION_LABEL, "Static", "Location on Disk", {213, 51, 57, 10}, false, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_SMALL_LABEL, "Static", "Small", {104, 87, 19, 10}, false, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_LARGE_LABEL, "Static", "Large", {174, 87, 20, 10}, false, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_FRAGMENT_COUNT_LABEL, "Static", "Number of Fragments", {25, 51, 71, 10}, false, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_SETTINGS_GROUP, "Button", "Fragmentation Settings", {17, 34, 266, 69}, false, BS_TYPEMASK, BS_GROUPBOX,
       WS_EX_TRANSPARENT},
      {IDC_FRAGMENT_COUNT_UPDOWN, "msctls_updown32", "", {88, 68, 11, 14}, false,
       UDS_WRAP | UDS_SETBUDDYINT | UDS_NOTHOUSANDS | UDS_ALIGNRIGHT | UDS_ARROWKEYS,
       UDS_WRAP | UDS_SETBUDDYINT | UDS_NOTHOUSANDS | UDS_ALIGNRIGHT | UDS_ARROWKEYS, 0, false},
      {IDC_FILENAME_LABEL, "Static", "Filename:", {20, 110, 31, 8}, true, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_FILE_NAME_VALUE, "Static", "", {60, 110, 223, 8}, true, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_STATUS, "Static", "", {22, 309, 261, 8}, true, SS_TYPEMASK | SS_ELLIPSISMASK,
       SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, 0},
      {IDC_PERCENT_AFTER_LABEL, "Static", "% Fragmented:", {193, 174, 60, 8}, true, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_PERCENT_AFTER, "Static", "", {239, 174, 43, 8}, true, SS_TYPEMASK, SS_RIGHT, 0},
      {IDC_FILE_SIZE_LABEL, "Static", "File Size:", {20, 121, 29, 8}, true, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_FILE_SIZE_VALUE, "Static", "", {60, 121, 225, 8}, true, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_PERCENT_BEFORE_LABEL, "Static", "% Fragmented:", {193, 139, 70, 8}, true, SS_TYPEMASK, SS_LEFT, 0},
      {IDC_PERCENT_BEFORE, "Static", "", {239, 139, 43, 8}, true, SS_TYPEMASK, SS_RIGHT, 0},
  };
  return controls;
}

// Where a control sits in the main window's client area, in pixels.
RECT ClientRectOf(HWND window, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// As the dialog manager places a control: position and size converted
// separately (converting the right edge instead may round differently).
RECT DialogUnitsToPixels(HWND window, RECT position) {
  MapDialogRect(window, &position);  // left, top, width, height
  return {position.left, position.top, position.left + position.right, position.top + position.bottom};
}

// The dialog manager turns the border of an edit or list control into a
// sunken client edge.
bool HasBorder(HWND control) {
  return (GetWindowLongPtrA(control, GWL_STYLE) & WS_BORDER) ||
         (GetWindowLongPtrA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
}

std::string ClassOf(HWND window) {
  char name[128] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

using MainWindow = MainWindowTest;

TEST_F(MainWindow, IsTheTemplateWindowOfTheShardmillClass) {
  char caption[64] = "";
  GetWindowTextA(window_, caption, sizeof caption);
  EXPECT_STREQ(caption, "Quorvane Shardix");
  EXPECT_EQ(ClassOf(window_), "Shardmill");
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(window_, GWL_STYLE));
  const DWORD wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX |
                       WS_MAXIMIZEBOX | WS_CLIPCHILDREN | WS_VISIBLE;
  EXPECT_EQ(style & wanted, wanted) << std::hex << style;

  WNDCLASSEXA window_class = {};
  window_class.cbSize = sizeof window_class;
  ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "Shardmill", &window_class));
  EXPECT_EQ(window_class.cbWndExtra, DLGWINDOWEXTRA);
  EXPECT_EQ(window_class.cbClsExtra, 0);
  EXPECT_EQ(window_class.style, 0u);
  EXPECT_NE(window_class.hIcon, nullptr) << "icon group SHARDMILL";
  EXPECT_NE(window_class.hIconSm, nullptr);
  EXPECT_EQ(window_class.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));

  // The template's 305 by 345 dialog units are the client area.
  RECT client;
  GetClientRect(window_, &client);
  const RECT expected = DialogUnitsToPixels(window_, {0, 0, 305, 345});
  EXPECT_EQ(client.right, expected.right);
  EXPECT_EQ(client.bottom, expected.bottom);
  EXPECT_EQ(g_app.main_window, window_);
}

TEST_F(MainWindow, ControlsMatchTheTemplate) {
  for (const ExpectedControl& expected : TemplateControls()) {
    SCOPED_TRACE("control " + std::to_string(expected.id));
    HWND control = Item(expected.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(lstrcmpiA(ClassOf(control).c_str(), expected.class_name), 0) << ClassOf(control);
    EXPECT_EQ(ItemText(expected.id), expected.text);
    EXPECT_EQ(IsWindowEnabled(control) != FALSE, expected.enabled);
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE));
    EXPECT_EQ(style & expected.style_mask, expected.style) << std::hex << style;
    const DWORD ex_style = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_EXSTYLE));
    EXPECT_EQ(ex_style & expected.ex_style, expected.ex_style) << std::hex << ex_style;
    if (expected.check_position) {
      const RECT actual = ClientRectOf(window_, control);
      const RECT wanted = DialogUnitsToPixels(window_, expected.position);
      EXPECT_EQ(actual.left, wanted.left);
      EXPECT_EQ(actual.top, wanted.top);
      EXPECT_EQ(actual.right, wanted.right);
      EXPECT_EQ(actual.bottom, wanted.bottom);
    }
  }

  // (The themed progress bar draws its own frame and drops the border style.)
  for (int id : {IDC_FILE_NAME, IDC_FRAGMENT_COUNT, IDC_FRAGMENT_LIST}) {
    EXPECT_TRUE(HasBorder(Item(id))) << id;
  }

  // The one label without an identifier.
  HWND label = FindWindowExA(window_, nullptr, "Static", "File to fragment:");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(ClientRectOf(window_, label).left, DialogUnitsToPixels(window_, {25, 12, 54, 8}).left);
}

TEST_F(MainWindow, FragmentCountStartsAtZeroWithTheEditAsBuddy) {
  HWND updown = Item(IDC_FRAGMENT_COUNT_UPDOWN);
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(updown, UDM_GETBUDDY, 0, 0)), Item(IDC_FRAGMENT_COUNT));
  int low = -1, high = -1;
  SendMessageA(updown, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 0);
  BOOL failed = TRUE;
  EXPECT_EQ(SendMessageA(updown, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&failed)), 0);
  EXPECT_FALSE(failed);
  // Sitting at the buddy's right edge (overlapping the buddy's border).
  const RECT arrows = ClientRectOf(window_, updown);
  const RECT buddy = ClientRectOf(window_, Item(IDC_FRAGMENT_COUNT));
  EXPECT_NEAR(arrows.left, buddy.right, 2);
  EXPECT_EQ(arrows.top, buddy.top);
}

TEST_F(MainWindow, FragmentSizeSliderStandsAtLarge) {
  HWND slider = Item(IDC_FRAGMENT_SIZE);
  EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0), 1);
  EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 10);
  EXPECT_EQ(SendMessageA(slider, TBM_GETPAGESIZE, 0, 0), 4);
  EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 10);
  // (The selection range set at start-up is kept only by a trackbar with
  // TBS_ENABLESELRANGE, which the template does not give.)
}

TEST_F(MainWindow, PlacementMethodsInOrderWithConcentratedSelected) {
  HWND combo = Item(IDC_PLACEMENT_METHOD);
  const char* const kMethods[] = {"Concentrated", "Scattered", "Random", "First Fit"};
  ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 4);
  for (int i = 0; i < 4; ++i) {
    char text[64] = "";
    SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, kMethods[i]);
  }
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
}

TEST_F(MainWindow, FragmentListHasThreeRightAlignedColumns) {
  HWND list = Item(IDC_FRAGMENT_LIST);
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  ASSERT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 3);
  const char* const kHeaders[] = {"Fragment #", "Clusters", "Fragment Location (LCN)"};
  int width_sum = 0;
  for (int column = 0; column < 3; ++column) {
    char text[64] = "";
    LVCOLUMNA info = {};
    info.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    info.pszText = text;
    info.cchTextMax = sizeof text;
    ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&info)));
    EXPECT_STREQ(text, kHeaders[column]);
    // The first one too, which the list control would align left.
    EXPECT_EQ(info.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_RIGHT) << column;
    HDITEMA item = {};
    item.mask = HDI_FORMAT;
    ASSERT_TRUE(SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item)));
    EXPECT_EQ(item.fmt & HDF_JUSTIFYMASK, HDF_RIGHT) << column;
    if (column < 2) {
      EXPECT_EQ(info.cx, 85);
    }
    width_sum += info.cx;
  }
  // The last column fills the rest of the list.
  RECT client;
  GetClientRect(list, &client);
  EXPECT_EQ(width_sum, client.right);
  const LRESULT extended = SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST_F(MainWindow, StartUpSeedsTheGeneratorFromTheClock) {
  const uint32_t now = static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
  EXPECT_LE(now - ProcessRandom().State(), 5u);
}

TEST_F(MainWindow, EscapeAndUnknownCommandsDoNothing) {
  SetFocus(Item(IDC_FILE_NAME));
  // Escape through the dialog keyboard handling, as the message loop does.
  PostMessageA(Item(IDC_FILE_NAME), WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageA(Item(IDC_FILE_NAME), WM_KEYUP, VK_ESCAPE, 0xC0000001);
  EXPECT_FALSE(PumpPendingMessages(window_));
  EXPECT_TRUE(IsWindow(window_));

  for (int id : {IDCANCEL, IDOK, IDC_SETTINGS_GROUP, IDC_STATUS, 0, 0xFFFF}) {
    EXPECT_EQ(SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0), 0) << id;
  }
  EXPECT_FALSE(PumpPendingMessages(window_));
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_TRUE(IsWindowVisible(window_));
}

TEST_F(MainWindow, CloseDestroysTheWindowAndPostsQuit) {
  EXPECT_EQ(SendMessageA(window_, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED), 0), 0);
  EXPECT_FALSE(IsWindow(window_));
  MSG quit;
  ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 0u);
  EXPECT_EQ(g_app.white_brush, nullptr);
  EXPECT_EQ(g_app.blue_brush, nullptr);
  EXPECT_EQ(g_app.red_brush, nullptr);
}

TEST_F(MainWindow, CloseBoxEndsTheMessageLoopWithZero) {
  PostMessageA(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_FALSE(IsWindow(window_));
}

TEST_F(MainWindow, CloseButtonThroughTheMessageLoop) {
  // A click arrives as BN_CLICKED from the button itself.
  PostMessageA(window_, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED),
               reinterpret_cast<LPARAM>(Item(IDC_CLOSE)));
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_FALSE(IsWindow(window_));
}

// ---- Releasing the application's resources ---------------------------------

std::vector<std::string>* g_release_log = nullptr;

void LogRelease(const char* what) {
  if (g_release_log == nullptr) return;
  g_release_log->push_back(std::string(what) + (g_app.white_brush || g_app.blue_brush || g_app.red_brush
                                                    ? " with brushes left"
                                                    : ""));
}

class LoggedVolume : public Volume {
 public:
  ~LoggedVolume() override { LogRelease("volume"); }
  uint32_t GetVolumeBitmap(int64_t, void*, std::size_t, std::size_t*) override { return 1; }
  uint32_t MoveClusters(VolumeFile&, int64_t, int64_t, uint32_t) override { return 1; }
  uint32_t GetGeometry(VolumeGeometry*) override { return 1; }
  std::string DisplayName() const override { return "T:"; }
};

class LoggedFile : public VolumeFile {
 public:
  ~LoggedFile() override { LogRelease("file"); }
  uint32_t GetSize(uint64_t*) override { return 1; }
  uint32_t GetRetrievalPointers(int64_t, void*, std::size_t, std::size_t*) override { return 1; }
};

TEST_F(MainWindow, DestructionReleasesBrushesThenVolumeThenFile) {
  std::vector<std::string> log;
  g_release_log = &log;
  g_app.session.volume = std::make_unique<LoggedVolume>();
  g_app.session.file = std::make_unique<LoggedFile>();
  HBRUSH white = g_app.white_brush;
  ASSERT_NE(white, nullptr);
  ASSERT_EQ(GetObjectType(white), static_cast<DWORD>(OBJ_BRUSH));

  DestroyWindow(window_);
  g_release_log = nullptr;

  EXPECT_EQ(log, (std::vector<std::string>{"volume", "file"}));
  EXPECT_EQ(g_app.session.volume, nullptr);
  EXPECT_EQ(g_app.session.file, nullptr);
  EXPECT_EQ(GetObjectType(white), 0u) << "brush deleted";
}

TEST(MainWindowStartUp, NoTemplateShowsTheErrorBoxAndReturnsOne) {
  TestUi().Reset();
  // A module without the "Shardmill" template.
  HINSTANCE foreign = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(foreign, nullptr);
  EXPECT_EQ(RunApplication(foreign, SW_SHOWNOACTIVATE), 1);
  ASSERT_EQ(TestUi().boxes.size(), 1u);
  EXPECT_EQ(TestUi().boxes[0].owner, nullptr);
  EXPECT_EQ(TestUi().boxes[0].text, "Unable to run application.");
  EXPECT_EQ(TestUi().boxes[0].caption, "Error");
  EXPECT_EQ(TestUi().boxes[0].type, static_cast<UINT>(MB_OK));
  TestUi().Reset();
  ReleaseAppResources();  // the brushes start-up made before failing
  UnregisterClassA("Shardmill", foreign);
}

}  // namespace
}  // namespace shardix::test
