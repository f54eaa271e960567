// The Help command and the About box.
// Windows before <shellapi.h>; keep the order.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/dialogs/about_dialog_win.h"
#include "app/center_window_win.h"
#include "app/help_win.h"
#include "resource.h"
#include "shardix_version.h"
#include "test_support_win.h"

namespace shardix::test {
namespace {

std::string ProgramFolder() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder = path;
  return folder.substr(0, folder.rfind('\\'));
}

// ---- Help ------------------------------------------------------------------

TEST(HelpPath, IsUnderTheProgramsFolder) {
  char path[512] = "";
  ASSERT_TRUE(HelpPathFor("C:\\Tools\\Shardix.exe", path, sizeof path));
  EXPECT_STREQ(path, "C:\\Tools\\help\\html\\Index.html");
  ASSERT_TRUE(HelpPathFor("C:\\Shardix.exe", path, sizeof path));
  EXPECT_STREQ(path, "C:\\help\\html\\Index.html");
  // A path that does not fit is not cut into the name of another file.
  char small[24];
  EXPECT_FALSE(HelpPathFor("C:\\Tools\\Shardix.exe", small, sizeof small));
  EXPECT_STREQ(small, "");
}

TEST(HelpPath, TheBuildPutsTheHelpBesideTheProgram) {
  std::string folder = SHARDIX_GUI_PATH;
  for (char& c : folder) c = c == '/' ? '\\' : c;
  folder = folder.substr(0, folder.rfind('\\'));
  const DWORD attributes = GetFileAttributesA((folder + "\\help\\html\\Index.html").c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << folder;
}

using Help = MainWindowTest;

TEST_F(Help, ButtonOpensIndexHtmlBesideTheProgram) {
  SendMessageA(window_, WM_COMMAND, MAKEWPARAM(IDC_HELP_BUTTON, BN_CLICKED), 0);
  EXPECT_EQ(TestUi().shell_opened, std::vector<std::string>{ProgramFolder() + "\\help\\html\\Index.html"});
}

TEST_F(Help, FailureIsExplainedWithThePath) {
  const std::string path = ProgramFolder() + "\\help\\html\\Index.html";
  const struct {
    INT_PTR result;
    const char* text;
  } kCases[] = {
      {SE_ERR_FNF, "The specified help file was not found"},
      {SE_ERR_NOASSOC, "There is no application associated with the given file name extension"},
      {5, "An error occured while trying to open the browser"},
      {0, "An error occured while trying to open the browser"},
  };
  for (const auto& failure : kCases) {
    TestUi().boxes.clear();
    TestUi().shell_result = failure.result;
    EXPECT_FALSE(ShowHelp(window_));
    ASSERT_EQ(TestUi().boxes.size(), 1u) << failure.result;
    EXPECT_EQ(TestUi().boxes[0].text, std::string(failure.text) + "\n\n" + path);
    EXPECT_EQ(TestUi().boxes[0].caption, "Error opening browser to display Help file");
    EXPECT_EQ(TestUi().boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(TestUi().boxes[0].owner, window_);
  }
  TestUi().boxes.clear();
}

// ---- About: texts from a version block -------------------------------------

struct FakeVersionBlock {
  std::vector<WORD> translation;  // language, code page, ...
  std::map<std::string, std::string> strings;
};

BOOL WINAPI FakeVersionQuery(LPCVOID block, LPCSTR key, LPVOID* value, PUINT length) {
  auto* fake = static_cast<const FakeVersionBlock*>(block);
  if (std::string(key) == "\\VarFileInfo\\Translation") {
    if (fake->translation.empty()) return FALSE;
    *value = const_cast<WORD*>(fake->translation.data());
    *length = static_cast<UINT>(fake->translation.size() * sizeof(WORD));
    return TRUE;
  }
  auto found = fake->strings.find(key);
  if (found == fake->strings.end()) return FALSE;
  *value = const_cast<char*>(found->second.c_str());
  *length = static_cast<UINT>(found->second.size() + 1);
  return TRUE;
}

INT_PTR CALLBACK BareDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class AboutTexts : public MainWindowTest {
 protected:
  // The About template without its procedure: the texts as FillAboutTexts
  // leaves them, in the order ProductName, version, company, legal, web.
  std::vector<std::string> Fill(const FakeVersionBlock& block) {
    HWND about = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), window_, BareDialogProc, 0);
    EXPECT_NE(about, nullptr);
    if (about == nullptr) return {};
    FillAboutTexts(about, &block, FakeVersionQuery);
    std::vector<std::string> texts;
    for (int id : {IDC_ABOUT_PRODUCT_NAME, IDC_ABOUT_VERSION, IDC_ABOUT_COMPANY, IDC_ABOUT_COPYRIGHT,
                   IDC_ABOUT_WEBSITE}) {
      char text[256] = "";
      GetDlgItemTextA(about, id, text, sizeof text);
      texts.push_back(text);
    }
    DestroyWindow(about);
    return texts;
  }
  static FakeVersionBlock Complete() {
    return {{0x0409, 0x04b0, 0x0407, 0x04e4},
            {{"\\StringFileInfo\\040904b0\\ProductName", "Quorvane Shardix"},
             {"\\StringFileInfo\\040904b0\\ProductVersion", "1.0.0.1000"},
             {"\\StringFileInfo\\040904b0\\CompanyName", "Quorvane (R) Software"},
             {"\\StringFileInfo\\040904b0\\LegalCopyright", "Notice"},
             {"\\StringFileInfo\\040704e4\\ProductName", "Second language"}}};
  }
};

const std::vector<std::string> kTemplateTexts = {"ProgramName", "ProgramVersion", "CompanyName", "LegalCopyright",
                                                 "Website"};

TEST_F(AboutTexts, ComeFromTheFirstLanguageOfTheBlock) {
  EXPECT_EQ(Fill(Complete()), (std::vector<std::string>{"Quorvane Shardix", "Version 1.0.0.1000",
                                                        "Quorvane (R) Software", "Notice", kAboutWebAddress}));
}

TEST_F(AboutTexts, MissingValuesKeepTheTemplateTexts) {
  FakeVersionBlock no_translation = Complete();
  no_translation.translation.clear();
  EXPECT_EQ(Fill(no_translation), kTemplateTexts);

  FakeVersionBlock no_company = Complete();
  no_company.strings.erase("\\StringFileInfo\\040904b0\\CompanyName");
  EXPECT_EQ(Fill(no_company), (std::vector<std::string>{"Quorvane Shardix", "Version 1.0.0.1000", "CompanyName",
                                                        "Notice", "Website"}));
}

// ---- About: the bitmap drawn transparent -----------------------------------

// A DIB section of `width` by `height` at `bits` per pixel, every pixel `fill`.
HBITMAP MakeBitmap(HDC dc, int width, int height, WORD bits, COLORREF fill) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bits;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) SetPixel(dc, x, y, fill);
  SelectObject(dc, old);
  return bitmap;
}

// Draws `bitmap` through its mask over a green background; the colours seen.
std::vector<std::vector<COLORREF>> DrawOverGreen(HBITMAP bitmap, int width, int height) {
  HBITMAP mask = nullptr;
  const GdiFailure made = MakeTransparentMask(bitmap, &mask);
  EXPECT_FALSE(made) << made.caption;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP target = MakeBitmap(dc, width, height, 32, RGB(0, 255, 0));
  HGDIOBJ old = SelectObject(dc, target);
  const GdiFailure drawn = DrawTransparentBitmap(dc, bitmap, mask);
  EXPECT_FALSE(drawn) << drawn.caption;
  std::vector<std::vector<COLORREF>> seen(height, std::vector<COLORREF>(width));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) seen[y][x] = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteObject(target);
  DeleteObject(mask);
  DeleteDC(dc);
  return seen;
}

TEST(AboutBitmap, EveryPixelOfTheTopLeftColourIsTransparent) {
  constexpr COLORREF kKey = RGB(255, 0, 255), kNear = RGB(254, 0, 255), kBlue = RGB(30, 80, 230);
  constexpr COLORREF kBlack = RGB(0, 0, 0), kWhite = RGB(255, 255, 255), kGreen = RGB(0, 255, 0);
  const std::vector<std::vector<COLORREF>> picture = {
      {kKey, kBlue, kBlue, kBlue, kBlue, kBlue},
      {kBlue, kKey, kNear, kBlack, kWhite, kBlue},
      {kBlue, kBlue, kBlue, kBlue, kBlue, kKey},
  };
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = MakeBitmap(dc, 6, 3, 24, kBlue);
  HGDIOBJ old = SelectObject(dc, bitmap);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) SetPixel(dc, x, y, picture[y][x]);
  SelectObject(dc, old);
  DeleteDC(dc);

  const auto seen = DrawOverGreen(bitmap, 6, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) {
      EXPECT_EQ(seen[y][x], picture[y][x] == kKey ? kGreen : picture[y][x]) << "pixel " << x << "," << y;
    }
  DeleteObject(bitmap);
}

TEST(AboutBitmap, ResourceIs50By50At24BitsWithAGapInside) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDB_ABOUT), MAKEINTRESOURCEA(2));  // RT_BITMAP
  ASSERT_NE(found, nullptr);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, found)));
  EXPECT_EQ(header->biWidth, 50);
  EXPECT_EQ(header->biHeight, 50);
  EXPECT_EQ(header->biBitCount, 24);

  HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(IDB_ABOUT));
  ASSERT_NE(bitmap, nullptr);
  const auto seen = DrawOverGreen(bitmap, 50, 50);
  EXPECT_EQ(seen[0][0], RGB(0, 255, 0));
  EXPECT_EQ(seen[24][26], RGB(0, 255, 0)) << "the gap in the middle of the bar";
  EXPECT_EQ(seen[20][10], RGB(0x1e, 0x50, 0xe6));
  EXPECT_EQ(seen[20][32], RGB(0xe0, 0x20, 0x20));
  DeleteObject(bitmap);
}

// ---- About: the box itself -------------------------------------------------

HWND g_about = nullptr;
std::function<void(HWND)> g_visit;

BOOL CALLBACK FindAbout(HWND window, LPARAM) {
  char class_name[16] = "", caption[16] = "";
  GetClassNameA(window, class_name, sizeof class_name);
  GetWindowTextA(window, caption, sizeof caption);
  if (lstrcmpA(class_name, "#32770") != 0 || lstrcmpA(caption, "About") != 0) return TRUE;
  g_about = window;
  return FALSE;
}

// Called by the About box's modal loop until the box is there.
void CALLBACK VisitAbout(HWND, UINT, UINT_PTR timer, DWORD) {
  g_about = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindAbout, 0);
  if (g_about == nullptr) return;
  KillTimer(nullptr, timer);
  g_visit(g_about);
}

class AboutBox : public MainWindowTest {
 protected:
  // Opens the About box with the main window's command and runs `visit` on
  // it once it is open; returns whether it was visited.
  bool Open(std::function<void(HWND)> visit) {
    bool visited = false;
    g_visit = [&](HWND about) {
      visited = true;
      visit(about);
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, VisitAbout);
    SendMessageA(window_, WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED), 0);
    KillTimer(nullptr, timer);
    return visited;
  }
};

TEST_F(AboutBox, ShowsTheProgramsVersionBlockCentredOverTheMainWindow) {
  HWND seen = nullptr;
  AboutContext context;
  ASSERT_TRUE(Open([&](HWND about) {
    seen = about;
    context = *reinterpret_cast<AboutContext*>(GetWindowLongPtrA(about, DWLP_USER));
    EXPECT_EQ(GetWindow(about, GW_OWNER), window_);
    EXPECT_FALSE(IsWindowEnabled(window_)) << "modal";
    char text[256] = "";
    const std::pair<int, std::string> kTexts[] = {
        {IDC_ABOUT_PRODUCT_NAME, "Quorvane Shardix"},
        {IDC_ABOUT_VERSION, std::string("Version ") + SHARDIX_VERSION_TEXT},
        {IDC_ABOUT_COMPANY, "Quorvane (R) Software"},
        {IDC_ABOUT_COPYRIGHT, "(C) Quorvane, GPL-2.0-or-later"},
        {IDC_ABOUT_WEBSITE, kAboutWebAddress},
    };
    for (const auto& [id, expected] : kTexts) {
      GetDlgItemTextA(about, id, text, sizeof text);
      EXPECT_EQ(text, expected);
    }
    RECT box, main;
    GetWindowRect(about, &box);
    GetWindowRect(window_, &main);
    EXPECT_NEAR((box.left + box.right) / 2, (main.left + main.right) / 2, 1);
    EXPECT_NEAR((box.top + box.bottom) / 2, (main.top + main.bottom) / 2, 1);
    PostMessageA(about, WM_KEYDOWN, VK_RETURN, 0);  // the default button, OK
  }));
  EXPECT_FALSE(IsWindow(seen));
  EXPECT_TRUE(IsWindowEnabled(window_));
  // Made at the opening and deleted with the box.
  ASSERT_NE(context.bitmap, nullptr);
  ASSERT_NE(context.mask, nullptr);
  EXPECT_EQ(GetObjectType(context.bitmap), 0u);
  EXPECT_EQ(GetObjectType(context.mask), 0u);
}

TEST_F(AboutBox, EscapeAndTheCloseBoxEndItLikeOk) {
  for (UINT how : {0u, 1u}) {
    HWND seen = nullptr;
    ASSERT_TRUE(Open([&](HWND about) {
      seen = about;
      if (how == 0) {
        PostMessageA(about, WM_KEYDOWN, VK_ESCAPE, 0);
      } else {
        PostMessageA(about, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
    })) << how;
    EXPECT_FALSE(IsWindow(seen)) << how;
  }
}

// ---- Centring over the parent ----------------------------------------------

TEST(CenteredPosition, CentresAndKeepsTheWindowOnItsScreen) {
  const RECT screen = {0, 0, 1024, 768};
  const RECT box = {0, 0, 200, 100};
  auto at = [&](RECT parent, RECT on = {0, 0, 1024, 768}) {
    const POINT p = CenteredPosition(box, parent, on);
    return std::make_pair(p.x, p.y);
  };
  EXPECT_EQ(at({100, 100, 501, 401}), std::make_pair(200L, 200L));  // (401 - 200) / 2 truncated
  EXPECT_EQ(at({-300, -200, 100, 50}), std::make_pair(0L, 0L));
  EXPECT_EQ(at({900, 700, 1200, 900}), std::make_pair(824L, 668L));
  // Wider than the screen: the left edge, with the caption, stays visible.
  EXPECT_EQ(CenteredPosition({0, 0, 1200, 100}, {0, 0, 1024, 400}, screen).x, 0);
  // A monitor left of the primary one has negative coordinates.
  EXPECT_EQ(at({-1000, 100, -600, 400}, {-1280, 0, 0, 1024}), std::make_pair(-900L, 200L));
}

}  // namespace
}  // namespace shardix::test
