// Names outside any ANSI code page: the command line analyses, fragments and
// defragments a file with such a name inside an image that lies in a folder
// with such a name, and a path past 260 characters. The same test runs in
// both trees; in the Windows tree the Windows program also has to answer as
// the native one does on a copy of the same image.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/consistency_check.h"
#include "volume/unicode_text.h"
#ifdef _WIN32
#include <windows.h>

#include "tests/volume/wine_host.h"
#include "volume/wide_text.h"
#endif

namespace shardix::test {
namespace {

const std::string kName = "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE2\x98\x83.bin";
const std::string kFolder = "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE2\x98\x83";

// The ntfs-3g tools and Wine take names in the locale's encoding.
std::string Utf8Shell(const std::string& command) { return "LC_ALL=C.UTF-8 " + command; }

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

class UnicodeNameTest : public ::testing::Test {
 protected:
  // The oracles (ntfscat, ntfsinfo) read names in the locale's encoding too.
  static void SetUpTestSuite() {
#ifdef _WIN32
    _putenv_s("LC_ALL", "C.UTF-8");
#else
    setenv("LC_ALL", "C.UTF-8", 1);
#endif
  }

  // `folders` below the scratch folder, made; the image inside the last.
  void MakeImageIn(const std::vector<std::string>& folders) {
    std::string folder = scratch_.path();
    for (const std::string& part : folders) {
      folder += "/" + part;
      std::error_code error;
      std::filesystem::create_directory(PathFromUtf8(folder), error);
      ASSERT_FALSE(error) << folder << ": " << error.message();
    }
    folder_ = folder;
    image_ = folder + "/volume.img";
    ASSERT_TRUE(MakeNtfsImage(image_, 16 << 20, 4096)) << image_;
    content_ = PseudoRandomBytes(300000, 23);
    const std::string host = scratch_.path() + "/content.bin";
    {
      std::ofstream out(PathFromUtf8(host), std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(content_.data()), static_cast<std::streamsize>(content_.size()));
      ASSERT_TRUE(out.good());
    }
    bool ok = false;
    RunCommand(Utf8Shell("ntfscp -f " + ShellQuote(ToolPath(image_)) + " " + ShellQuote(ToolPath(host)) + " " +
                         ShellQuote(kName)),
               &ok);
    ASSERT_TRUE(ok) << "ntfscp into " << image_;
  }

  std::string Run(const std::string& cli, const std::string& image, const std::string& arguments,
                  bool* ok) {
    return WithoutCarriageReturns(
        RunCommand(Utf8Shell(cli + " " + arguments + " " + ShellQuote(image + "/" + kName)), ok));
  }
  std::string Shardix(const std::string& arguments, bool* ok) {
    return Run(SHARDIX_CLI, image_, arguments, ok);
  }

  void ExpectIntactAndClean(size_t fragments) {
    EXPECT_EQ(NtfscatBytes(image_, kName), content_);
    EXPECT_EQ(NtfsinfoExtents(image_, kName).size(), fragments);
    ConsistencyReport report;
    ASSERT_EQ(CheckImageConsistency(image_, &report), kErrorSuccess);
    std::ostringstream text;
    WriteConsistencyReport(report, text);
    EXPECT_TRUE(report.clean()) << text.str();
  }

  // Analyse, split into 6, gather again.
  void AnalyzeFragmentDefragment() {
    bool ok = false;
    const std::string analysis = Shardix("analyze", &ok);
    ASSERT_TRUE(ok) << "analyze " << kName;
    EXPECT_NE(analysis.find("Filename:      " + kName + "\n"), std::string::npos) << analysis;
    EXPECT_NE(analysis.find("in 1 fragments"), std::string::npos) << analysis;

    const std::string split = Shardix("fragment --count 6 --method scattered --seed 9 --json", &ok);
    ASSERT_TRUE(ok) << split;
    EXPECT_NE(split.find("\"name\":\"" + kName + "\""), std::string::npos) << split;
    EXPECT_NE(split.find("\"outcome\":\"done\""), std::string::npos) << split;
    ExpectIntactAndClean(6);

    const std::string gathered = Shardix("defragment --quiet", &ok);
    ASSERT_TRUE(ok) << gathered;
    EXPECT_EQ(gathered, "File was successfully defragmented!\n");
    ExpectIntactAndClean(1);
  }

  ScratchDir scratch_;
  std::string folder_, image_;
  std::vector<uint8_t> content_;
};

TEST_F(UnicodeNameTest, FileAndFolderNamedOutsideAnyCodePage) {
  MakeImageIn({kFolder});
  AnalyzeFragmentDefragment();
}

TEST_F(UnicodeNameTest, PathPastTheClassicLimit) {
  // Three folders of some 100 characters: the file's path is past 350.
  const std::string long_part(99, 'x');
  MakeImageIn({kFolder + std::string(80, 'x'), long_part + "1", long_part + "2"});
  ASSERT_GT(image_.size() + kName.size(), 300u);
  AnalyzeFragmentDefragment();
}

TEST_F(UnicodeNameTest, ReportGoesIntoSuchAFolderButNeverOverTheImage) {
  MakeImageIn({kFolder});
  const std::vector<uint8_t> image_before = ReadHostFile(image_);
  const std::string report = folder_ + "/Bericht \xE2\x98\x83.txt";
  for (const std::string& target : {image_, report}) {
    bool ok = false;
    RunCommand(Utf8Shell(std::string(SHARDIX_CLI) + " volume-info " + ShellQuote(image_) + " --save " +
                         ShellQuote(target)),
               &ok);
    // The image itself never takes the report, whatever its name.
    EXPECT_EQ(ok, target == report) << target;
  }
  EXPECT_EQ(ReadHostFile(image_), image_before);
  const std::vector<uint8_t> saved = ReadHostFile(report);
  EXPECT_EQ(std::string(saved.begin(), saved.end()).substr(0, 15), "Disk summary:\r\n");
}

#ifdef _WIN32
// Started directly, since no shell carries an unpaired surrogate.
TEST_F(UnicodeNameTest, ArgumentThatIsNotValidUtf16IsRefused) {
  const std::string errors = scratch_.path() + "\\errors.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(WideFromUtf8(errors).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  std::wstring command = L"\"" + WideFromUtf8(wine_host::WindowsPath(SHARDIX_CLI_EXE)) + L"\" analyze \"" +
                         WideFromUtf8(scratch_.path()) + L"\\a" + wchar_t(0xD800) + L".bin\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                             &process));
  CloseHandle(out);
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  EXPECT_EQ(code, 1u);
  const std::vector<uint8_t> bytes = ReadHostFile(errors);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("a" + std::string(kReplacementCharacter) + ".bin is not valid Unicode"), std::string::npos)
      << text;
}

// The native program, built first in the same clone (scripts/test.sh).
TEST_F(UnicodeNameTest, AnswersAsTheNativeProgramDoes) {
  const std::string native = SHARDIX_NATIVE_CLI;
  if (native.empty() || !std::filesystem::exists(PathFromUtf8(wine_host::WindowsPath(native))))
    GTEST_SKIP() << "no native build at '" << native << "' to compare with";
  MakeImageIn({kFolder});
  const std::string copy = scratch_.path() + "/copy.img";
  std::filesystem::copy_file(PathFromUtf8(image_), PathFromUtf8(copy));
  for (const std::string& arguments :
       {std::string("analyze --json"), std::string("fragment --count 5 --method random --seed 3 --json"),
        std::string("analyze"), std::string("defragment --json")}) {
    bool ok_here = false, ok_native = false;
    const std::string here = Run(SHARDIX_CLI, image_, arguments, &ok_here);
    const std::string there = Run(native, ToolPath(copy), arguments, &ok_native);
    EXPECT_TRUE(ok_here && ok_native) << arguments;
    EXPECT_EQ(here, there) << arguments;
  }
}
#endif

}  // namespace
}  // namespace shardix::test
