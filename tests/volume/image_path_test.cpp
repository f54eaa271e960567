// The image-as-folder path rule.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "volume/error_codes.h"
#include "volume/image_path.h"
#include "volume/system_error.h"
#include "volume/volume.h"

namespace shardix {
namespace {

class ImagePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("shardix-path-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_ / "sub");
    std::ofstream(dir_ / "sub" / "disk.img") << "not really a volume";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& tail) { return (dir_ / "sub").string() + tail; }

  std::filesystem::path dir_;
};

TEST_F(ImagePathTest, LeadingFileIsTheImageAndTheRestIsInside) {
  ImagePath split;
  ASSERT_TRUE(SplitImagePath(Path("/disk.img/docs//a.bin"), &split));
  EXPECT_EQ(split.image, Path("/disk.img"));
  EXPECT_EQ(split.inner, "/docs/a.bin");

  ASSERT_TRUE(SplitImagePath(Path("/disk.img"), &split));
  EXPECT_EQ(split.inner, "/");
  ASSERT_TRUE(SplitImagePath(Path("/disk.img/"), &split));
  EXPECT_EQ(split.inner, "/");
}

TEST_F(ImagePathTest, PathsWithoutAnImageAreNotSplit) {
  ImagePath split;
  EXPECT_FALSE(SplitImagePath(Path("/missing.img/a.bin"), &split));
  EXPECT_FALSE(SplitImagePath(Path(""), &split));  // a folder
  EXPECT_FALSE(SplitImagePath("", &split));
}

#ifndef _WIN32
TEST_F(ImagePathTest, OutsideWindowsOnlyImagesCanBeOpenedAndRefusalsKeepTheErrno) {
  std::unique_ptr<VolumeFile> file;
  EXPECT_EQ(OpenFileByPath(Path("/disk.img"), &file), kErrorNotInsideImage);
  EXPECT_EQ(ErrorName(SystemErrorFor(kErrorNotInsideImage)), "not-inside-image");
  EXPECT_EQ(OpenFileByPath(Path("/nothing/here"), &file), kErrorFileNotFound);
  EXPECT_EQ(SystemErrorFor(kErrorFileNotFound), std::errc::no_such_file_or_directory);
  std::unique_ptr<Volume> volume;
  EXPECT_EQ(OpenVolumeByPath(Path("/nothing/here"), &volume), kErrorFileNotFound);
  // A folder is not "not found": it is there, and is a folder.
  EXPECT_EQ(OpenVolumeByPath(Path(""), &volume), kErrorDirectoryNotSupported);
  const SystemError folder = SystemErrorFor(kErrorDirectoryNotSupported);
  EXPECT_EQ(folder, std::errc::is_a_directory);
  EXPECT_EQ(ErrorName(folder), "EISDIR");
  EXPECT_EQ(folder.message(), std::strerror(EISDIR));
  EXPECT_EQ(WindowsCode(folder), kErrorDirectoryNotSupported);
  EXPECT_FALSE(file);
  EXPECT_FALSE(volume);
}

TEST(SystemErrorTest, ErrnoIsKeptOnlyWithItsOwnCodeAndRefusalsHaveOwnNames) {
  const uint32_t code = ErrorFromErrno(ENOTDIR);
  EXPECT_EQ(SystemErrorFor(code), std::errc::not_a_directory);
  // Another code on the same thread does not borrow it.
  EXPECT_EQ(SystemErrorFor(kErrorAccessDenied), std::errc::permission_denied);
  ForgetSystemError();
  EXPECT_EQ(SystemErrorFor(code), std::errc::no_such_file_or_directory);
  const SystemError not_ntfs = ErrorFromCode(kErrorUnrecognizedVolume);
  EXPECT_EQ(ErrorName(not_ntfs), "not-ntfs");
  EXPECT_EQ(WindowsCode(not_ntfs), kErrorUnrecognizedVolume);
  EXPECT_EQ(ErrorName(ErrorFromCode(kErrorMoreData)), "WIN32_234");
}
#endif

}  // namespace
}  // namespace shardix
