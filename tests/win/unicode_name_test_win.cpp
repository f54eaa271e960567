// The window with names outside any ANSI code page: a file inside an image
// in such a folder, analysed from the file name box and from Browse, its
// name shown as it is; the disk report saved into such a folder; and a name
// that is not valid UTF-16 refused instead of opening another file.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/app_state_win.h"
#include "app/main_window_win.h"
#include "app/window_text_win.h"
#include "job_test_support_win.h"
#include "resource.h"
#include "test_support_win.h"
#include "tests/volume/ntfsimage_fixture.h"
#include "tests/support/image_writing.h"
#include "volume/unicode_text.h"
#include "volume/wide_text.h"

namespace shardix::test {
namespace {

const std::string kName = "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE2\x98\x83.bin";
const std::string kFolder = "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE2\x98\x83";

class UnicodeNameWindow : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    folder_ = scratch_.path() + "\\" + kFolder;
    ASSERT_TRUE(std::filesystem::create_directory(PathFromUtf8(folder_)));
    image_ = folder_ + "\\\xE2\x98\x83 volume.img";
    ASSERT_TRUE(MakeNtfsImage(image_, 16 << 20, 4096));
    std::string error;
    ASSERT_EQ(WriteFileToImage(image_, "/" + kName, PseudoRandomBytes(40 * 4096, 3), &error), 0u) << error;
    path_ = image_ + "\\" + kName;
  }
  void TearDown() override {
    // The window keeps the image mounted until it is let go.
    g_app.session.file.reset();
    g_app.session.volume.reset();
    MainWindowTest::TearDown();
  }

  void ExpectAnalysed() {
    EXPECT_EQ(ItemText(IDC_STATUS), "");
    EXPECT_EQ(ItemText(IDC_FILE_NAME_VALUE), kName);
    EXPECT_EQ(ItemText(IDC_FILE_SIZE_VALUE), "160.0 KB (40 Clusters) in 1 fragments");
    EXPECT_EQ(g_app.session.analysed_path, path_);
    EXPECT_TRUE(Enabled(window_, IDC_FRAGMENT));
  }

  ScratchDir scratch_;
  std::string folder_, image_, path_;
};

TEST_F(UnicodeNameWindow, AnalysesFromTheNameBoxAndFromBrowse) {
  Analyze(window_, path_);
  ExpectAnalysed();
  EXPECT_EQ(ItemText(IDC_FILE_NAME), path_);

  SetDialogItemText(window_, IDC_FILE_NAME, "");
  TestUi().open_answers.push_back([&](OPENFILENAMEW* request, DWORD* error) {
    FillFileBuffer(request, path_);
    *error = 0;
    return true;
  });
  ASSERT_TRUE(BrowseForFile(window_));
  EXPECT_EQ(ItemText(IDC_FILE_NAME), path_);
  SendCommand(window_, IDC_ANALYZE_FILE);
  ExpectAnalysed();
}

TEST_F(UnicodeNameWindow, VolumeInfoNamesTheImageAndSavesIntoSuchAFolder) {
  Analyze(window_, path_);
  ASSERT_TRUE(Enabled(window_, IDC_VOLUME_INFO));
  const std::string report = folder_ + "\\Bericht \xE6\x97\xA5\xE6\x9C\xAC.txt";
  TestUi().save_answers.push_back([&](OPENFILENAMEW* request, DWORD*) {
    FillFileBuffer(request, report);
    return true;
  });
  std::string title;
  OpenVolumeInfo(window_, [&](HWND dialog) {
    title = DialogItemText(dialog, IDC_DISK_REPORT_TITLE);
    SendCommand(dialog, IDC_SAVE_AS);
  });
  EXPECT_EQ(title, "Disk Report for: (\xE2\x98\x83 volume.img)");
  EXPECT_TRUE(TestUi().boxes.empty()) << TestUi().boxes.front().text;
  std::ifstream saved(PathFromUtf8(report), std::ios::binary);
  std::stringstream bytes;
  bytes << saved.rdbuf();
  EXPECT_EQ(bytes.str().substr(0, 15), "Disk summary:\r\n");
}

TEST_F(UnicodeNameWindow, NameThatIsNotValidUtf16IsRefused) {
  // What a lossy conversion would open instead: the same name with U+FFFD.
  const std::string lookalike = folder_ + "\\a" + kReplacementCharacter + ".bin";
  { std::ofstream(PathFromUtf8(lookalike)) << "another file"; }
  const std::wstring typed = WideFromUtf8(folder_) + L"\\a" + wchar_t(0xD800) + L".bin";
  SetDlgItemTextW(window_, IDC_FILE_NAME, typed.c_str());
  SendCommand(window_, IDC_ANALYZE_FILE);
  const std::string status = ItemText(IDC_STATUS);
  EXPECT_EQ(status.rfind("Error: The name ", 0), 0u) << status;
  EXPECT_NE(status.find("a" + std::string(kReplacementCharacter) + ".bin"), std::string::npos) << status;
  EXPECT_NE(status.find("not valid Unicode"), std::string::npos) << status;
  EXPECT_EQ(g_app.session.file, nullptr);
  EXPECT_EQ(g_app.session.analysed_path, "");
  EXPECT_FALSE(Enabled(window_, IDC_FRAGMENT));
  EXPECT_TRUE(StatusShownInRed(window_));
}

}  // namespace
}  // namespace shardix::test
