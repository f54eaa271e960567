// The Fragment job on real NTFS images: every method leaves the file's bytes
// as they were and the volume consistent, and the command line repeats
// itself for the same seed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "analysis/analyze_file.h"
#include "fragment/fragment_file.h"
#include "fragment/fragment_job.h"
#include "fragment/random.h"
#include "tests/support/recording_display.h"
#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/consistency_check.h"

namespace shardix::test {
namespace {

constexpr uint64_t kFileBytes = 2 << 20;  // 512 clusters of 4 KiB

class FragmentImageTest : public ::testing::Test {
 protected:
  // A 32 MiB volume with a few files in front of the one to fragment.
  void SetUp() override {
    image_ = scratch_.path() + "/volume.img";
    ASSERT_TRUE(MakeNtfsImage(image_, 32 << 20, 4096));
    content_ = PseudoRandomBytes(kFileBytes, 11);
    for (int i = 0; i < 3; ++i)
      CopyIn("filler" + std::to_string(i), PseudoRandomBytes((i + 1) * 300000, i));
    CopyIn("data.bin", content_);
  }

  void CopyIn(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string host = scratch_.path() + "/" + name;
    {
      std::ofstream out(host, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      ASSERT_TRUE(out.good()) << host;
    }
    bool ok = false;
    RunCommand("ntfscp -f " + ShellQuote(ToolPath(image_)) + " " + ShellQuote(ToolPath(host)) + " " + name, &ok);
    ASSERT_TRUE(ok) << name;
  }

  void ExpectIntactAndClean() {
    EXPECT_EQ(NtfscatBytes(image_, "data.bin"), content_);
    ConsistencyReport report;
    ASSERT_EQ(CheckImageConsistency(image_, &report), kErrorSuccess);
    std::ostringstream text;
    WriteConsistencyReport(report, text);
    EXPECT_TRUE(report.clean()) << text.str();
  }

  ScratchDir scratch_;
  std::string image_;
  std::vector<uint8_t> content_;
};

TEST_F(FragmentImageTest, EveryMethodSplitsTheFileAndKeepsItsBytes) {
  const std::string pristine = scratch_.path() + "/pristine.img";
  std::filesystem::copy_file(image_, pristine);
  for (int32_t method = 0; method < 4; ++method) {
    // Removed first: mingw-w64's libstdc++ (GCC 12) refuses overwrite_existing.
    std::filesystem::remove(image_);
    std::filesystem::copy_file(pristine, image_, std::filesystem::copy_options::overwrite_existing);
    uint64_t fragments = 0;
    {
      FileSession session;
      RecordingDisplay display;
      ASSERT_TRUE(AnalyzeFile(session, image_ + "/data.bin", display)) << display.status;
      FragmentJobParams params;
      ASSERT_TRUE(PrepareFragmentJob(display, "16", display.Text(TextField::kMaxValue), method,
                                     kFragmentSizeLarge, &params));
      ShardixRandom random(2024);
      JobContext context{session.volume.get(), session.file.get(), &display, &random, nullptr};
      EXPECT_EQ(RunFragmentJob(context, session, params), kFragmentSucceeded) << method;
      EXPECT_TRUE(display.boxes.empty());
      fragments = session.results.fragment_count;
    }  // the image is unmounted here
    // First Fit lays the pieces back to back, where they read as fewer fragments.
    if (method == 3)
      EXPECT_LE(fragments, 16u);
    else
      EXPECT_EQ(fragments, 16u) << method;
    ExpectIntactAndClean();
  }
}

TEST_F(FragmentImageTest, OneClusterPerFragment) {
  {
    FileSession session;
    RecordingDisplay display;
    ASSERT_TRUE(AnalyzeFile(session, image_ + "/data.bin", display));
    FragmentJobParams params;
    ASSERT_TRUE(PrepareFragmentJob(display, "512", "512", 1, kFragmentSizeLarge, &params));
    ShardixRandom random(7);
    JobContext context{session.volume.get(), session.file.get(), &display, &random, nullptr};
    EXPECT_EQ(RunFragmentJob(context, session, params), kFragmentSucceeded);
    EXPECT_GT(session.results.fragment_count, 400u);
  }
  ExpectIntactAndClean();
}

TEST_F(FragmentImageTest, CommandLineRepeatsItselfForTheSameSeed) {
  const std::string second = scratch_.path() + "/second.img";
  const std::string third = scratch_.path() + "/third.img";
  std::filesystem::copy_file(image_, second);
  std::filesystem::copy_file(image_, third);
  auto run = [](const std::string& image, const std::string& seed, bool expect_ok = true) {
    bool ok = false;
    std::string out = RunCommand(std::string(SHARDIX_CLI) + " fragment " + ShellQuote(image) +
                                     "/data.bin --count 24 --method scattered --size 7 --seed " +
                                     seed + " --json",
                                 &ok);
    EXPECT_EQ(ok, expect_ok) << seed;
    return out;
  };
  const std::vector<uint8_t> untouched = ReadHostFile(third);
  const std::string first_output = run(image_, "5");
  EXPECT_NE(first_output.find("\"outcome\":\"done\""), std::string::npos) << first_output;
  EXPECT_NE(first_output.find("\"seed\":5,"), std::string::npos) << first_output;
  EXPECT_EQ(run(second, "5"), first_output);
  // A seed beyond 32 bits is bad usage, not another seed: nothing runs.
  EXPECT_EQ(run(third, "4294967301", false), "");
  EXPECT_EQ(ReadHostFile(third), untouched);
  EXPECT_EQ(run(third, "5"), first_output);
  EXPECT_EQ(ReadHostFile(second), ReadHostFile(image_));
  EXPECT_EQ(ReadHostFile(third), ReadHostFile(image_));
  ExpectIntactAndClean();
}

}  // namespace
}  // namespace shardix::test
