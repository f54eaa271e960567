// The "..." command with the open-file dialog answered by the test.
#include <windows.h>
#include <commdlg.h>
#include <cderr.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/main_window_win.h"
#include "resource.h"
#include "test_support_win.h"

namespace shardix::test {
namespace {

FileDialogScript Choose(const std::string& file, std::string* started_from = nullptr) {
  return [file, started_from](OPENFILENAMEW* request, DWORD* error) {
    if (started_from != nullptr) *started_from = FileBufferText(request);
    FillFileBuffer(request, file);
    *error = 0;
    return true;
  };
}

// A dialog that ends without a file; it may have scribbled on the buffer.
FileDialogScript Fail(DWORD code, std::string* started_from = nullptr) {
  return [code, started_from](OPENFILENAMEW* request, DWORD* error) {
    if (started_from != nullptr) *started_from = FileBufferText(request);
    FillFileBuffer(request, "scribbled");
    *error = code;
    return false;
  };
}

using Browse = MainWindowTest;

TEST_F(Browse, ChosenFileReplacesTheTypedName) {
  SetDlgItemTextA(window_, IDC_FILE_NAME, "C:\\typed.bin");
  OPENFILENAMEW seen = {};
  std::string started_from;
  TestUi().open_answers.push_back([&](OPENFILENAMEW* request, DWORD* error) {
    seen = *request;
    return Choose("C:\\data\\chosen file.bin", &started_from)(request, error);
  });

  EXPECT_EQ(SendMessageA(window_, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED),
                         reinterpret_cast<LPARAM>(Item(IDC_BROWSE))),
            0);

  EXPECT_EQ(ItemText(IDC_FILE_NAME), "C:\\data\\chosen file.bin");
  EXPECT_EQ(started_from, "C:\\typed.bin");
  EXPECT_EQ(seen.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400W));
  EXPECT_EQ(seen.hwndOwner, window_);
  EXPECT_EQ(seen.lpstrFilter, nullptr);
  EXPECT_EQ(seen.nMaxFile, 512u);
  EXPECT_STREQ(seen.lpstrTitle, L"Fragment file");
  EXPECT_EQ(seen.Flags, static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY));
  EXPECT_EQ(TestUi().open_dialogs_shown, 1);
  EXPECT_EQ(ItemText(IDC_STATUS), "");
}

TEST_F(Browse, CancelKeepsTheTypedName) {
  SetDlgItemTextA(window_, IDC_FILE_NAME, "C:\\typed.bin");
  TestUi().open_answers.push_back(Fail(0));
  EXPECT_FALSE(BrowseForFile(window_));
  EXPECT_EQ(ItemText(IDC_FILE_NAME), "C:\\typed.bin");
  EXPECT_EQ(TestUi().open_dialogs_shown, 1);
  EXPECT_EQ(ItemText(IDC_STATUS), "") << "cancelling is no error";
}

TEST_F(Browse, InvalidNameRetriesOnceWithAnEmptyName) {
  SetDlgItemTextA(window_, IDC_FILE_NAME, "C:\\bad|name?.bin");
  std::string first, second;
  TestUi().open_answers.push_back(Fail(FNERR_INVALIDFILENAME, &first));
  TestUi().open_answers.push_back(Choose("C:\\good.bin", &second));
  EXPECT_TRUE(BrowseForFile(window_));
  EXPECT_EQ(first, "C:\\bad|name?.bin");
  EXPECT_EQ(second, "");
  EXPECT_EQ(ItemText(IDC_FILE_NAME), "C:\\good.bin");
}

TEST_F(Browse, RetryCancelledKeepsTheTypedName) {
  SetDlgItemTextA(window_, IDC_FILE_NAME, "C:\\bad|name?.bin");
  std::string second = "not shown";
  TestUi().open_answers.push_back(Fail(FNERR_INVALIDFILENAME));
  TestUi().open_answers.push_back(Fail(0, &second));
  EXPECT_FALSE(BrowseForFile(window_));
  EXPECT_EQ(second, "");
  EXPECT_EQ(TestUi().open_dialogs_shown, 2);
  EXPECT_EQ(ItemText(IDC_FILE_NAME), "C:\\bad|name?.bin");
  EXPECT_EQ(ItemText(IDC_STATUS), "");
}

TEST_F(Browse, OtherDialogFailuresAreNotRetriedAndShowOnTheStatusLine) {
  SetDlgItemTextA(window_, IDC_FILE_NAME, "C:\\typed.bin");
  TestUi().open_answers.push_back(Fail(FNERR_BUFFERTOOSMALL));
  EXPECT_FALSE(BrowseForFile(window_));
  EXPECT_EQ(TestUi().open_dialogs_shown, 1);
  EXPECT_EQ(ItemText(IDC_FILE_NAME), "C:\\typed.bin");
  EXPECT_EQ(ItemText(IDC_STATUS), "Error: The open-file dialog failed (common dialog error 0x3003).");
}

}  // namespace
}  // namespace shardix::test
