// Power cuts during fragment and defragment jobs on an image. Every write
// and flush the backend makes (to the image and to its journal) is recorded;
// then the image is rebuilt as a power cut at many moments could have left
// it: every write covered by a later flush of its file is there, each write
// not yet flushed is there or not. The next opener's recovery must leave a
// clean volume (our check) and every file's bytes as before (ntfscat).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "analysis/analyze_file.h"
#include "defrag/defragment_job.h"
#include "fragment/fragment_file.h"
#include "fragment/fragment_job.h"
#include "fragment/random.h"
#include "tests/support/recording_display.h"
#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/consistency_check.h"
#include "tests/support/image_writing.h"
#include "volume/ntfsimage/journal/storage_events.h"

namespace shardix::test {
namespace {

using ntfsimage::StorageEvent;
using ntfsimage::StorageOp;
using ntfsimage::StorageTarget;

class PowerCutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = scratch_.path() + "/volume.img";
    base_ = scratch_.path() + "/base.img";
    ASSERT_TRUE(MakeNtfsImage(image_, 48u << 20, 4096));
    files_ = {{"/moved.bin", PseudoRandomBytes(2u << 20, 11)},
              {"/neighbour.bin", PseudoRandomBytes(300u << 10, 12)}};
    for (const auto& [path, bytes] : files_) {
      std::string error;
      ASSERT_EQ(WriteFileToImage(image_, path, bytes, &error), 0u) << error;
    }
    std::filesystem::copy_file(image_, base_);
  }
  void TearDown() override {
    ntfsimage::SetStorageRecorder(nullptr);
    ntfsimage::SetJournalGroupWindow(100);
  }

  // Fragments /moved.bin into `pieces` and defragments it back, recording.
  std::vector<StorageEvent> RecordJobs(uint64_t pieces, int32_t method) {
    std::vector<StorageEvent> events;
    ntfsimage::SetStorageRecorder([&events](const StorageEvent& event) { events.push_back(event); });
    {
      FileSession session;
      RecordingDisplay display;
      EXPECT_TRUE(AnalyzeFile(session, image_ + "/moved.bin", display)) << display.status;
      FragmentJobParams params;
      EXPECT_TRUE(PrepareFragmentJob(display, std::to_string(pieces), display.Text(TextField::kMaxValue),
                                     method, kFragmentSizeLarge, &params));
      ShardixRandom random(99);
      JobContext context{session.volume.get(), session.file.get(), &display, &random, nullptr};
      EXPECT_EQ(RunFragmentJob(context, session, params), kFragmentSucceeded)
          << display.status << (display.boxes.empty() ? "" : " / " + display.boxes[0].caption + " " + std::to_string(display.boxes[0].code));
      EXPECT_GE(session.results.fragment_count, 2u);
      EXPECT_EQ(RunDefragmentJob(context, session), 0);
    }
    ntfsimage::SetStorageRecorder(nullptr);
    return events;
  }

  // The image and journal after a power cut before events[cut]: a write
  // followed by a flush of its own file before the cut is on the disk; any
  // other is there only when `keep` says so.
  void Replay(const std::vector<StorageEvent>& events, size_t cut, const std::function<bool()>& keep) {
    const std::string journal = image_ + ".shardix-journal";
    std::filesystem::remove(image_);
    std::filesystem::remove(journal);
    std::filesystem::copy_file(base_, image_);
    std::vector<bool> flushed(cut, false);
    bool image_flush = false, journal_flush = false;
    for (size_t i = cut; i-- > 0;) {
      const StorageEvent& event = events[i];
      bool& later_flush = event.target == StorageTarget::kImage ? image_flush : journal_flush;
      if (event.op == StorageOp::kSync) later_flush = true;
      else flushed[i] = later_flush;
    }
    for (size_t i = 0; i < cut; ++i) {
      const StorageEvent& event = events[i];
      if (event.op == StorageOp::kSync || (!flushed[i] && !keep())) continue;
      const std::string path = event.target == StorageTarget::kImage ? image_ : journal;
      if (event.op == StorageOp::kRemove) {
        std::filesystem::remove(path);
        continue;
      }
      if (!std::filesystem::exists(path)) std::ofstream(path, std::ios::binary).flush();
      ASSERT_TRUE(WriteHostBytes(path, static_cast<uint64_t>(event.offset), event.bytes));
    }
  }

  // Recovery and the verdict. Returns a description of what is wrong, "" when
  // nothing is.
  std::string Verdict() {
    ConsistencyReport report;
    const uint32_t code = CheckImageConsistency(image_, &report);
    if (code != kErrorSuccess) return "check failed with code " + std::to_string(code);
    std::ostringstream text;
    WriteConsistencyReport(report, text);
    if (!report.clean()) return text.str();
    if (std::filesystem::exists(image_ + ".shardix-journal")) return "the journal is still there";
    for (const auto& [path, bytes] : files_)
      if (NtfscatBytes(image_, path) != bytes) return path + " changed";
    return "";
  }

  // Cuts at every flush (and the very end), each as a pure prefix and with
  // a random half of the unflushed writes; with `sample` > 0 only that many
  // cuts, drawn at random among all events.
  void CutAndCheck(const std::vector<StorageEvent>& events, size_t sample, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<size_t> cuts;
    if (sample == 0) {
      cuts.push_back(0);
      for (size_t i = 0; i < events.size(); ++i)
        if (events[i].op == StorageOp::kSync) cuts.push_back(i + 1);
      cuts.push_back(events.size());
    } else {
      for (size_t i = 0; i < sample; ++i) cuts.push_back(random() % (events.size() + 1));
    }
    size_t tried = 0;
    for (size_t cut : cuts) {
      for (bool all : {true, false}) {
        Replay(events, cut, [&] { return all || random() % 2 == 0; });
        const std::string wrong = Verdict();
        ++tried;
        ASSERT_EQ(wrong, "") << "power cut before event " << cut << " of " << events.size()
                             << (all ? " (every write kept)" : " (unflushed writes dropped at random)");
      }
    }
    std::cout << "Power cuts replayed: " << tried << " at " << cuts.size() << " moments of "
              << events.size() << " recorded writes and flushes; all recovered clean and intact\n";
  }

  ScratchDir scratch_;
  std::string image_, base_;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files_;
};

TEST_F(PowerCutTest, EveryFlushOfASmallJobRecovers) {
  ntfsimage::SetJournalGroupWindow(0);  // a commit per move: the most moments to cut at
  const std::vector<StorageEvent> events = RecordJobs(6, /*random*/ 2);
  ASSERT_GT(events.size(), 20u);
  CutAndCheck(events, 0, 1);
}

TEST_F(PowerCutTest, SampledMomentsOfALargeJobRecover) {
  ntfsimage::SetJournalGroupWindow(5);
  const std::vector<StorageEvent> events = RecordJobs(300, /*scattered*/ 1);
  ASSERT_GT(events.size(), 100u);
  CutAndCheck(events, 40, 2);
}

}  // namespace
}  // namespace shardix::test
