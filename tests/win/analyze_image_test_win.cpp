// Analyze File in the main window on a real NTFS image made by mkntfs: the
// list it fills is the file's runs as ntfsinfo reads them.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/app_state_win.h"
#include "job_test_support_win.h"
#include "resource.h"
#include "test_support_win.h"
#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"
#include "tests/support/image_writing.h"
#include "volume/volume.h"

namespace shardix::test {
namespace {

using AnalyzeImageWindow = MainWindowTest;

TEST_F(AnalyzeImageWindow, ListsTheRunsNtfsinfoReads) {
  ScratchDir scratch;
  const std::string image = scratch.path() + "\\volume.img";
  ASSERT_TRUE(MakeNtfsImage(image, 32 << 20, 4096));
  std::string error;
  ASSERT_EQ(WriteFileToImage(image, "/data.bin", PseudoRandomBytes(64 * 4096, 5), &error), 0u)
      << error;
  const std::string path = image + "\\data.bin";
  {
    // Three fragments: the middle sixteen clusters moved near the end.
    std::unique_ptr<Volume> volume;
    std::unique_ptr<VolumeFile> file;
    ASSERT_EQ(OpenVolumeByPath(path, &volume), kErrorSuccess);
    ASSERT_EQ(OpenFileByPath(path, &file), kErrorSuccess);
    ASSERT_EQ(volume->MoveClusters(*file, 24, 7000, 16), kErrorSuccess);
  }

  Analyze(window_, path);
  EXPECT_EQ(ItemText(IDC_STATUS), "");
  EXPECT_EQ(ItemText(IDC_FILE_SIZE_VALUE), "256.0 KB (64 Clusters) in 3 fragments");
  const auto listed = ListCells(Item(IDC_FRAGMENT_LIST));
  EXPECT_TRUE(Enabled(window_, IDC_DEFRAGMENT));
  // The window keeps the image mounted; ntfsinfo reads it once it is let go.
  g_app.session.file.reset();
  g_app.session.volume.reset();
  std::vector<std::array<std::string, 3>> expected;
  int number = 0;
  for (const ExpectedExtent& run : NtfsinfoExtents(image, "/data.bin"))
    expected.push_back({std::to_string(++number), std::to_string(run.next_vcn - run.vcn),
                        std::to_string(run.lcn)});
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(expected.size(), 3u);
}

}  // namespace
}  // namespace shardix::test
