// What recovery plays back and what it refuses. Crash states are rebuilt
// from the recorded writes of real moves (storage_events.h); the command
// line then runs on them, and The Sleuth Kit and ntfscat judge the files.
// A journal goes only onto the state it was written for, and a change
// interrupted under one name is found under another.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"
#include "tests/support/image_writing.h"
#include "volume/ntfsimage/journal/journal_recovery.h"
#include "volume/ntfsimage/journal/storage_events.h"
#include "volume/ntfsimage/ntfs_image.h"

namespace shardix::test {
namespace {

namespace fs = std::filesystem;
using ntfsimage::StorageEvent;
using ntfsimage::StorageOp;
using ntfsimage::StorageTarget;

struct CliRun {
  int status;
  std::string text;
};

CliRun Shardix(const std::string& words) {
  FILE* pipe = popen(("timeout 60 " + std::string(SHARDIX_CLI) + " " + words + " 2>&1").c_str(), "r");
  CliRun run{-1, ""};
  char buffer[4096];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) run.text.append(buffer, got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

bool Has(const CliRun& run, const std::string& text) { return run.text.find(text) != std::string::npos; }

class JournalRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = scratch_.path() + "/volume.img";
    ASSERT_TRUE(MakeNtfsImage(image_, 48u << 20, 4096));
    std::string error;
    ASSERT_EQ(WriteFileToImage(image_, "/moved.bin", moved_, &error), 0u) << error;
    ASSERT_EQ(WriteFileToImage(image_, "/neighbour.bin", neighbour_, &error), 0u) << error;
    base_ = ReadHostFile(image_);
    record_ = NtfsinfoRecordNumber(image_, "/moved.bin");
    ASSERT_GT(record_, 0);
  }
  void TearDown() override {
    ntfsimage::SetStorageRecorder(nullptr);
    ntfsimage::SetJournalGroupWindow(100);
    unsetenv("SHARDIX_JOURNAL_DIR");
  }

  // Moves every other cluster of /moved.bin to the volume's free end, one
  // commit per move, and records what reached the disk. Leaves the image
  // as it was before and the journal's path in journal_.
  std::vector<StorageEvent> RecordMoves() {
    journal_ = ntfsimage::JournalPathFor(fs::canonical(image_).string());
    const uint64_t clusters = ReadImageFacts(image_).cluster_count;
    std::vector<StorageEvent> events;
    ntfsimage::SetJournalGroupWindow(0);
    ntfsimage::SetStorageRecorder([&events](const StorageEvent& event) { events.push_back(event); });
    {
      std::unique_ptr<Volume> volume;
      std::unique_ptr<VolumeFile> file;
      EXPECT_EQ(OpenImageVolume(image_, &volume), 0u);
      EXPECT_EQ(OpenImageFile(image_, "/moved.bin", &file), 0u);
      const std::vector<uint8_t> bitmap = ReadBitmapThrough(*volume, clusters);
      int64_t lcn = static_cast<int64_t>(clusters);
      for (int64_t vcn = 0; vcn < 20; vcn += 2) {
        while (--lcn > 0 && (bitmap[lcn / 8] >> (lcn % 8)) & 1) {
        }
        EXPECT_EQ(volume->MoveClusters(*file, vcn, lcn, 1), 0u) << "vcn " << vcn;
      }
    }
    ntfsimage::SetStorageRecorder(nullptr);
    fs::remove(journal_);
    EXPECT_TRUE(WriteHostBytes(image_, 0, base_));
    return events;
  }

  // The image and journal as a crash left them right after the image writes
  // of the sixth commit, before it was marked done. With `torn`, only every
  // other sector of those writes reached the image.
  void Crash(const std::vector<StorageEvent>& events, bool torn) {
    size_t cut = 0, commit_start = 0, done = 0;
    for (size_t i = 0; i < events.size() && done < 6; ++i) {
      const StorageEvent& event = events[i];
      if (event.target == StorageTarget::kJournal && event.op == StorageOp::kSync) commit_start = i;
      if (event.target == StorageTarget::kJournal && event.op == StorageOp::kWrite && event.offset == 512 &&
          event.bytes.size() == 512 && ++done == 6)
        cut = i;
    }
    ASSERT_GT(cut, commit_start);
    for (size_t i = 0; i < cut; ++i) {
      const StorageEvent& event = events[i];
      const std::string path = event.target == StorageTarget::kImage ? image_ : journal_;
      if (event.op == StorageOp::kRemove) fs::remove(path);
      if (event.op != StorageOp::kWrite) continue;
      if (!fs::exists(path)) std::ofstream(path, std::ios::binary).flush();
      const bool tear = torn && event.target == StorageTarget::kImage && i > commit_start;
      for (size_t from = 0; from < event.bytes.size(); from += 512) {
        if (tear && ((event.offset + from) / 512) % 2) continue;
        const size_t count = std::min<size_t>(512, event.bytes.size() - from);
        ASSERT_TRUE(WriteHostBytes(path, event.offset + from,
                                   {event.bytes.begin() + from, event.bytes.begin() + from + count}));
      }
    }
    ASSERT_TRUE(fs::exists(journal_));
    ASSERT_NE(ReadHostFile(image_), base_);
  }

  std::vector<uint8_t> Icat(const std::string& image, int64_t record) {
    bool ok = false;
    const std::string out = RunCommand("icat " + ShellQuote(image) + " " + std::to_string(record), &ok);
    return std::vector<uint8_t>(out.begin(), out.end());
  }
  // Recovered: clean by our check, the files' bytes by both other tools,
  // the journal gone and the volume no longer marked.
  void ExpectRecovered(const std::string& image) {
    const CliRun check = Shardix("check " + image);
    EXPECT_EQ(check.status, 0) << check.text;
    EXPECT_TRUE(Has(check, "Result: clean")) << check.text;
    EXPECT_TRUE(NtfscatBytes(image, "/moved.bin") == moved_);
    EXPECT_TRUE(Icat(image, record_) == moved_);
    EXPECT_TRUE(NtfscatBytes(image, "/neighbour.bin") == neighbour_);
    bool ok = false;
    EXPECT_NE(RunCommand("ntfsinfo -m " + ShellQuote(image), &ok).find("Volume Flags: 0x0000"),
              std::string::npos);
  }

  ScratchDir scratch_;
  std::string image_, journal_;
  std::vector<uint8_t> base_;
  int64_t record_ = -1;
  const std::vector<uint8_t> moved_ = PseudoRandomBytes(2u << 20, 31);
  const std::vector<uint8_t> neighbour_ = PseudoRandomBytes(300u << 10, 32);
};

TEST_F(JournalRecoveryTest, AStaleJournalBesideARestoredCopyChangesNothingAndIsKept) {
  Crash(RecordMoves(), false);
  const std::vector<uint8_t> journal = ReadHostFile(journal_);
  ASSERT_TRUE(WriteHostBytes(image_, 0, base_));  // the backup comes back, the journal stays
  const CliRun check = Shardix("check " + image_);
  EXPECT_EQ(check.status, 1) << check.text;
  EXPECT_TRUE(Has(check, "neither what the interrupted commit found there nor what it wrote")) << check.text;
  EXPECT_TRUE(ReadHostFile(image_) == base_);
  EXPECT_FALSE(fs::exists(journal_));
  EXPECT_TRUE(ReadHostFile(journal_ + ".kept") == journal);
  EXPECT_TRUE(Icat(image_, record_) == moved_);
  EXPECT_EQ(Shardix("check " + image_).status, 0);  // the copy itself was sound
}

TEST_F(JournalRecoveryTest, AnImageAnotherProgramWroteAfterTheCrashIsLeftAsItIs) {
  Crash(RecordMoves(), false);
  const std::vector<uint8_t> other = PseudoRandomBytes(1u << 20, 33);
  {
    FuseMount mount(image_, scratch_.path() + "/mnt");
    ASSERT_TRUE(mount.ok());
    fs::remove(scratch_.path() + "/mnt/moved.bin");
    ASSERT_TRUE(WriteWholeFile(scratch_.path() + "/mnt/other.bin", other));
    ASSERT_TRUE(mount.Unmount());
  }
  const std::vector<uint8_t> written = ReadHostFile(image_);
  const CliRun job = Shardix("fragment " + image_ + "/neighbour.bin --count 3");
  EXPECT_EQ(job.status, 1) << job.text;
  EXPECT_TRUE(Has(job, "was not played back")) << job.text;
  EXPECT_TRUE(ReadHostFile(image_) == written);
  EXPECT_TRUE(fs::exists(journal_ + ".kept"));
  // The ntfs-3g tools refuse a volume so marked; The Sleuth Kit reads it.
  bool found = false;
  const std::string inode = RunCommand("ifind -n /other.bin " + ShellQuote(image_), &found);
  ASSERT_TRUE(found);
  EXPECT_TRUE(Icat(image_, std::stoll(inode)) == other);
  // Still marked, and now without a journal: reads warn, jobs are refused.
  const CliRun check = Shardix("check " + image_);
  EXPECT_EQ(check.status, 1) << check.text;
  EXPECT_TRUE(Has(check, "marked as being changed")) << check.text;
}

TEST_F(JournalRecoveryTest, ATornCommitIsRolledBackSectorBySector) {
  Crash(RecordMoves(), true);
  ExpectRecovered(image_);
  EXPECT_FALSE(fs::exists(journal_));
}

TEST_F(JournalRecoveryTest, AHardLinkFindsTheJournalBesideTheImage) {
  Crash(RecordMoves(), true);
  const std::string link = scratch_.path() + "/link.img";
  fs::create_hard_link(image_, link);
  const CliRun check = Shardix("check " + link);
  EXPECT_TRUE(Has(check, "Recovered an interrupted move of /moved.bin")) << check.text;
  EXPECT_TRUE(Has(check, "found as " + journal_)) << check.text;
  ExpectRecovered(link);
  EXPECT_FALSE(fs::exists(journal_));  // the same file: spent
}

TEST_F(JournalRecoveryTest, AMovedImageIsRefusedWithoutItsJournalAndRecoveredWithIt) {
  const std::string folder = scratch_.path() + "/journals";
  setenv("SHARDIX_JOURNAL_DIR", folder.c_str(), 1);
  Crash(RecordMoves(), false);
  const std::string moved = scratch_.path() + "/elsewhere.img";
  fs::rename(image_, moved);
  const std::vector<uint8_t> crashed = ReadHostFile(moved);

  unsetenv("SHARDIX_JOURNAL_DIR");  // a run that forgot it
  const CliRun job = Shardix("fragment " + moved + "/neighbour.bin --count 3");
  EXPECT_EQ(job.status, 1) << job.text;
  EXPECT_TRUE(Has(job, "no journal that fits it was found in " + scratch_.path() + ", /var/lib/shardix"))
      << job.text;
  const CliRun read = Shardix("analyze " + moved + "/neighbour.bin");
  EXPECT_EQ(read.status, 0) << read.text;
  EXPECT_TRUE(Has(read, "warning: A change to elsewhere.img was interrupted")) << read.text;
  EXPECT_EQ(Shardix("check " + moved).status, 1);
  EXPECT_TRUE(ReadHostFile(moved) == crashed);

  setenv("SHARDIX_JOURNAL_DIR", folder.c_str(), 1);
  ExpectRecovered(moved);
  EXPECT_FALSE(fs::exists(journal_));  // its image is gone from the name it recorded
}

TEST_F(JournalRecoveryTest, AVolumeAnotherToolMarkedIsOnlyReadAndKeepsItsMark) {
  bool ok = false;
  RunCommand("ntfsfix " + ShellQuote(image_), &ok);  // marks the volume for Windows to check
  ASSERT_TRUE(ok);
  const std::vector<uint8_t> marked = ReadHostFile(image_);
  const CliRun job = Shardix("fragment " + image_ + "/neighbour.bin --count 3");
  EXPECT_EQ(job.status, 1) << job.text;
  EXPECT_TRUE(Has(job, "let Windows check the volume (chkdsk /f)")) << job.text;
  EXPECT_FALSE(Has(job, ErrorMessage(kErrorVolumeDirty))) << job.text;  // that is the log's refusal
  EXPECT_TRUE(ReadHostFile(image_) == marked);  // the flag is not ours to clear
}

TEST_F(JournalRecoveryTest, AJournalThatCannotBeReadIsKeptAside) {
  const std::string journal = ntfsimage::JournalPathFor(fs::canonical(image_).string());
  std::vector<uint8_t> old_format = PseudoRandomBytes(4096, 34);
  std::memcpy(old_format.data(), "SHXJRNL1", 8);
  for (const auto& [bytes, said] : {std::pair{PseudoRandomBytes(3000, 35), "not a Shardix journal"},
                                    std::pair{old_format, "an earlier version of Shardix"}}) {
    std::ofstream(journal, std::ios::binary).flush();
    ASSERT_TRUE(WriteHostBytes(journal, 0, bytes));
    const CliRun check = Shardix("check " + image_);
    EXPECT_EQ(check.status, 1) << check.text;
    EXPECT_TRUE(Has(check, said)) << check.text;
    EXPECT_TRUE(ReadHostFile(journal + ".kept") == bytes);
    EXPECT_TRUE(ReadHostFile(image_) == base_);
    fs::remove(journal + ".kept");
  }
  EXPECT_EQ(Shardix("check " + image_).status, 0);
}

}  // namespace
}  // namespace shardix::test
