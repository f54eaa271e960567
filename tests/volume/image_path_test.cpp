// The image-as-folder path rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "volume/error_codes.h"
#include "volume/image_path.h"
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
TEST_F(ImagePathTest, OutsideWindowsOnlyImagesCanBeOpened) {
  std::unique_ptr<VolumeFile> file;
  EXPECT_EQ(OpenFileByPath(Path("/disk.img"), &file), kErrorNotSupported);
  EXPECT_EQ(OpenFileByPath(Path("/nothing/here"), &file), kErrorFileNotFound);
  std::unique_ptr<Volume> volume;
  EXPECT_EQ(OpenVolumeByPath(Path("/nothing/here"), &volume), kErrorPathNotFound);
  EXPECT_FALSE(file);
  EXPECT_FALSE(volume);
}
#endif

}  // namespace
}  // namespace shardix
