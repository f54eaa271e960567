// Analyze File on the simulated volume: the scan, the displays it fills and
// every refusal on the status line.
#include <gtest/gtest.h>

#include "analysis/analyze_file.h"
#include "analysis/file_display.h"
#include "tests/support/recording_display.h"
#include "volume/error_codes.h"
#include "volume/memory/memory_volume.h"

namespace shardix {
namespace {

using test::RecordingDisplay;

class AnalyzeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryVolume::Options options;
    options.cluster_count = 1000000;
    memory_ = MemoryVolume::Create(options);
    RegisterMemoryVolume("analysis", memory_);
  }
  void TearDown() override { UnregisterMemoryVolume("analysis"); }

  bool Analyze(const std::string& name) {
    return AnalyzeFile(session_, "memory:analysis/" + name, display_);
  }

  std::shared_ptr<MemoryVolume> memory_;
  FileSession session_;
  RecordingDisplay display_;
};

TEST_F(AnalyzeFileTest, OneExtentFileMayBeFragmentedButNotDefragmented) {
  ASSERT_EQ(memory_->AddFile("one.bin", 64 * 4096, {{0, 64, 7000}}), kErrorSuccess);
  EXPECT_TRUE(Analyze("one.bin"));
  ASSERT_EQ(display_.rows.size(), 1u);
  EXPECT_EQ(display_.rows[0].number, 1u);
  EXPECT_EQ(display_.rows[0].clusters, 64u);
  EXPECT_EQ(display_.rows[0].lcn, 7000u);
  EXPECT_EQ(session_.results.lcn_span, 0u);
  EXPECT_EQ(display_.Text(TextField::kPercentBefore), "0.00000%");
  EXPECT_EQ(display_.Text(TextField::kFileName), "one.bin");
  EXPECT_EQ(display_.Text(TextField::kFileSize), "256.0 KB (64 Clusters) in 1 fragments");
  EXPECT_EQ(display_.Text(TextField::kMaxValue), "64");
  EXPECT_EQ(display_.range_min, 1);
  EXPECT_EQ(display_.range_max, 64);
  EXPECT_EQ(display_.range_pos, 1);
  EXPECT_TRUE(display_.settings_enabled);
  EXPECT_TRUE(display_.CommandEnabled(Command::kFragment));
  EXPECT_FALSE(display_.CommandEnabled(Command::kDefragment));
  EXPECT_EQ(display_.status, "");
  EXPECT_EQ(display_.FillsOf(ClusterBar::kBefore, BarColour::kBlue).size(), 1u);
}

TEST_F(AnalyzeFileTest, TwoFragmentsThousandApartGiveTheKnownPercentage) {
  ASSERT_EQ(memory_->AddFile("two.bin", 100 * 4096, {{0, 50, 5000}, {50, 50, 6000}}), kErrorSuccess);
  EXPECT_TRUE(Analyze("two.bin"));
  EXPECT_EQ(display_.Text(TextField::kPercentBefore), "0.01414%");
  EXPECT_TRUE(display_.CommandEnabled(Command::kDefragment));
}

TEST_F(AnalyzeFileTest, NeighbouringExtentsJoinAndHolesStandAlone) {
  ASSERT_EQ(memory_->AddFile("joined.bin", 30 * 4096, {{0, 10, 100}, {10, 20, 110}}),
            kErrorSuccess);
  EXPECT_TRUE(Analyze("joined.bin"));
  ASSERT_EQ(display_.rows.size(), 1u);
  EXPECT_EQ(display_.rows[0].clusters, 30u);

  ASSERT_EQ(memory_->AddFile("sparse.bin", 40 * 4096, {{0, 8, 300}, {8, 16, -1}, {24, 16, 900}}),
            kErrorSuccess);
  display_.fills.clear();
  EXPECT_TRUE(Analyze("sparse.bin"));
  ASSERT_EQ(display_.rows.size(), 3u);
  EXPECT_EQ(display_.rows[1].lcn, ~uint64_t{0});
  EXPECT_EQ(display_.rows[1].clusters, 16u);
  EXPECT_EQ(session_.results.lcn_span, 901u);  // the hole counts as LCN -1
  EXPECT_EQ(session_.results.cluster_count, 40u);
  // The hole has no place on the volume: two runs drawn, not three.
  EXPECT_EQ(display_.FillsOf(ClusterBar::kBefore, BarColour::kBlue).size(), 2u);
}

TEST_F(AnalyzeFileTest, EmptyAndRecordHeldFilesAreRefusedWithTheirFiguresShown) {
  ASSERT_EQ(memory_->AddFile("empty.bin", 0, {}), kErrorSuccess);
  EXPECT_FALSE(Analyze("empty.bin"));
  EXPECT_EQ(display_.status, "Error: Files that are 0 Bytes in size cannot be fragmented.");
  EXPECT_EQ(display_.Text(TextField::kFileSize), "0 Bytes (0 Clusters) in 0 fragments");
  EXPECT_FALSE(display_.settings_enabled);

  ASSERT_EQ(memory_->AddResidentFile("small.txt", 512), kErrorSuccess);
  EXPECT_FALSE(Analyze("small.txt"));
  EXPECT_EQ(display_.status,
            "Error: Files stored in the Master File Table (MFT) cannot be fragmented.");
  EXPECT_EQ(display_.Text(TextField::kFileSize), "512 Bytes (stored in Master File Table)");
  EXPECT_EQ(display_.Text(TextField::kMaxValue), "0");
}

TEST_F(AnalyzeFileTest, OpenRefusalsNameTheirCause) {
  EXPECT_FALSE(AnalyzeFile(session_, "   \t ", display_));
  EXPECT_EQ(display_.status, "Error: Please enter a valid file to analyze.");
  EXPECT_FALSE(Analyze("missing.bin"));
  EXPECT_EQ(display_.status, "Error: File not found");
  EXPECT_TRUE(session_.analysed_path.empty());

  ASSERT_EQ(memory_->AddFile("busy.bin", 4096, {{0, 1, 10}}), kErrorSuccess);
  for (auto [code, text] : {std::pair{kErrorSharingViolation, "File is being used by another process"},
                            std::pair{kErrorLockViolation, "File is being used by another process"},
                            std::pair{kErrorAccessDenied, "File access is denied"},
                            std::pair{kErrorTooManyOpenFiles, "Unable to open file"},
                            std::pair{kErrorPathNotFound, "Path not found"},
                            std::pair{kErrorNotReady, ""}}) {
    memory_->InjectFailure(MemoryOperation::kOpenFile, code);
    EXPECT_FALSE(Analyze("busy.bin"));
    // Codes without a text of their own show the system's message.
    EXPECT_EQ(display_.status, "Error: " + (*text ? std::string(text) : ErrorMessage(code)));
    EXPECT_FALSE(display_.settings_enabled);
  }
}

TEST_F(AnalyzeFileTest, VolumeThatCannotBeOpenedStillShowsTheFile) {
  ASSERT_EQ(memory_->AddFile("f.bin", 8 * 4096, {{0, 4, 10}, {4, 4, 20}}), kErrorSuccess);
  memory_->InjectFailure(MemoryOperation::kOpenVolume, kErrorAccessDenied);
  EXPECT_FALSE(Analyze("f.bin"));
  EXPECT_EQ(display_.status,
            "Error: You must have administrative access to the volume to fragment this file.");
  EXPECT_EQ(display_.rows.size(), 2u);
  EXPECT_EQ(display_.Text(TextField::kPercentBefore), "");
  EXPECT_TRUE(display_.FillsOf(ClusterBar::kBefore, BarColour::kBlue).empty());
  EXPECT_FALSE(display_.settings_enabled);

  memory_->InjectFailure(MemoryOperation::kOpenVolume, kErrorNotReady);
  EXPECT_FALSE(Analyze("f.bin"));
  EXPECT_EQ(display_.status, "Error: " + ErrorMessage(kErrorNotReady));
}

TEST_F(AnalyzeFileTest, FailingQueriesEndTheAnalysisWithABox) {
  ASSERT_EQ(memory_->AddFile("f.bin", 12 * 4096, {{0, 4, 10}, {4, 4, 20}, {8, 4, 30}}),
            kErrorSuccess);
  memory_->InjectFailure(MemoryOperation::kGetVolumeBitmap, kErrorNotReady);
  EXPECT_FALSE(Analyze("f.bin"));
  ASSERT_EQ(display_.boxes.size(), 1u);
  EXPECT_EQ(display_.boxes[0].caption, "FSCTL_GET_VOLUME_BITMAP error");
  EXPECT_EQ(display_.status, "Error: Unable to analyze file");

  memory_->InjectFailure(MemoryOperation::kGetSize, kErrorIoDevice);
  EXPECT_FALSE(Analyze("f.bin"));
  EXPECT_EQ(display_.boxes.back().caption, "GetFileSize() error");

  // A query failing in the middle of the walk leaves no truncated list.
  memory_->InjectFailure(MemoryOperation::kGetRetrievalPointers, kErrorIoDevice, /*skip=*/2);
  EXPECT_FALSE(Analyze("f.bin"));
  EXPECT_EQ(display_.boxes.back().code, kErrorIoDevice);
  EXPECT_EQ(display_.boxes.back().owner, BoxOwner::kMainWindow);
  EXPECT_EQ(display_.status, "Error: Unable to analyze file");
  EXPECT_TRUE(display_.rows.empty());
  EXPECT_FALSE(display_.settings_enabled);
}

TEST_F(AnalyzeFileTest, TrimsTheTypedNameAndScansManyFragments) {
  std::vector<MemoryRun> runs;
  for (int i = 0; i < 5000; ++i) runs.push_back({i, 1, 100 + 2 * i});
  ASSERT_EQ(memory_->AddFile("many.bin", 5000 * 4096, runs), kErrorSuccess);
  EXPECT_TRUE(AnalyzeFile(session_, "  memory:analysis/many.bin \r\n", display_));
  EXPECT_EQ(session_.analysed_path, "memory:analysis/many.bin");
  EXPECT_EQ(session_.results.fragment_count, 5000u);
  EXPECT_EQ(display_.rows.back().lcn, 100u + 2 * 4999);
  EXPECT_EQ(session_.results.lcn_span, 2u * 4999);
  // The bar samples every 100th row.
  EXPECT_EQ(display_.FillsOf(ClusterBar::kBefore, BarColour::kBlue).size(), 50u);
}

TEST_F(AnalyzeFileTest, LongNameInUtf8IsOpenedWhole) {
  // 200 characters of three bytes each: within the name box's 511
  // characters, past 511 bytes. Cut at a byte count, it named another file.
  std::string name;
  for (int i = 0; i < 200; ++i) name += "\xE6\x97\xA5";
  ASSERT_EQ(memory_->AddFile(name + ".bin", 8 * 4096, {{0, 8, 300}}), kErrorSuccess);
  ASSERT_EQ(memory_->AddFile(name.substr(0, 495), 4096, {{0, 1, 900}}), kErrorSuccess);
  EXPECT_TRUE(Analyze(name + ".bin ")) << display_.status;
  EXPECT_EQ(session_.analysed_path, "memory:analysis/" + name + ".bin");
  EXPECT_EQ(display_.Text(TextField::kFileName), name + ".bin");
  EXPECT_EQ(session_.results.cluster_count, 8u);
}

}  // namespace
}  // namespace shardix
