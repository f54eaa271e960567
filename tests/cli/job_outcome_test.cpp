// What a job on an image says about its outcome: a job that cannot write
// the image or its journal is refused before its first move with the image
// byte for byte as it was; a last commit that fails makes the job a failure
// that counts only the moves on the disk (judged by ntfs-3g's tools); and a
// dry run's plan is what the run then does.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/volume/ntfsimage_fixture.h"
#include "tests/support/image_writing.h"

namespace shardix::test {
namespace {

struct Outcome {
  int status;
  std::string out;  // stdout and stderr
};

Outcome Shardix(const std::string& words, const std::string& env = "") {
  Outcome run{-1, ""};
  run.status = RunCommandStatus(env + " " + SHARDIX_CLI + " " + words, &run.out);
  return run;
}

// {clusters, lcn} of every {number, clusters, lcn} object after `key`.
std::vector<std::pair<int64_t, int64_t>> Pieces(const std::string& json, const std::string& key) {
  std::vector<std::pair<int64_t, int64_t>> pieces;
  const std::size_t at = json.find("\"" + key + "\":[");
  if (at == std::string::npos) return pieces;
  const std::string array = json.substr(at, json.find(']', at) - at);
  const std::regex row("\\{\"number\":\\d+,\"clusters\":(\\d+),\"lcn\":(\\d+)\\}");
  for (std::sregex_iterator it(array.begin(), array.end(), row), end; it != end; ++it)
    pieces.push_back({std::stoll((*it)[1]), std::stoll((*it)[2])});
  return pieces;
}

// A folder whose file system holds `bytes` at most; unmounted at the end.
class TinyFolder {
 public:
  TinyFolder(const std::string& path, const char* size) : path_(path) {
    std::filesystem::create_directories(path);
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~TinyFolder() {
    if (mounted_) umount(path_.c_str());
  }
  bool ok() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

class JobOutcome : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = scratch_.path() + "/disk.img";
    ASSERT_TRUE(MakeNtfsImage(image_, 64u << 20, 4096));
    std::string error;
    ASSERT_EQ(WriteFileToImage(image_, "/f.bin", content_, &error), 0u) << error;
    runs_ = NtfsinfoExtents(image_, "/f.bin");
    ASSERT_EQ(runs_.size(), 1u);
  }
  std::string File() const { return ShellQuote(image_ + "/f.bin"); }

  ScratchDir scratch_;
  std::string image_;
  std::vector<ExpectedExtent> runs_;
  const std::vector<uint8_t> content_ = PseudoRandomBytes(2u << 20, 5);
};

TEST_F(JobOutcome, AnImageOrJournalThatCannotBeWrittenIsRefusedBeforeTheFirstMove) {
  ASSERT_EQ(Shardix("fragment --count 4 --seed 2 " + File()).status, 0);  // so it can be gathered
  const std::vector<uint8_t> before = ReadHostFile(image_);
  // A file where the journal's folder should be.
  const std::string not_a_folder = scratch_.path() + "/journals";
  std::ofstream(not_a_folder) << "x";
  for (const char* command : {"fragment --count 6", "defragment"}) {
    Outcome refused = Shardix(std::string(command) + " " + File(), "SHARDIX_JOURNAL_DIR=" + not_a_folder);
    EXPECT_EQ(refused.status, 1) << refused.out;
    EXPECT_NE(refused.out.find("cannot be written at " + not_a_folder + "/disk.img-"), std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("set SHARDIX_JOURNAL_DIR to a folder that can be written"),
              std::string::npos) << refused.out;
  }
  // A full disk where the journal goes (root is not stopped by modes).
  TinyFolder full(scratch_.path() + "/full", "4k");
  if (full.ok()) {
    std::ofstream(scratch_.path() + "/full/filler") << std::string(4096, 'x');
    Outcome refused = Shardix("fragment --count 6 --json " + File(),
                          "SHARDIX_JOURNAL_DIR=" + scratch_.path() + "/full");
    EXPECT_EQ(refused.status, 1) << refused.out;
    EXPECT_NE(refused.out.find("No space left on device"), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("\"moved\":0"), std::string::npos) << refused.out;
  }
  EXPECT_TRUE(ReadHostFile(image_) == before);

  // An image that will not open for writing: refused, while reading it and
  // planning on it still work.
  bool immutable = false;
  RunCommand("chattr +i " + ShellQuote(image_), &immutable);
  if (!immutable) GTEST_SKIP() << "no chattr here";
  Outcome refused = Shardix("fragment --count 6 " + File());
  Outcome planned = Shardix("fragment --count 6 --dry-run " + File());
  Outcome analyzed = Shardix("analyze " + File());
  bool ok = false;
  RunCommand("chattr -i " + ShellQuote(image_), &ok);
  EXPECT_EQ(refused.status, 1) << refused.out;
  EXPECT_NE(refused.out.find(image_ + " cannot be written (Operation not permitted): make it writable"),
            std::string::npos) << refused.out;
  EXPECT_EQ(refused.out.find("Attempting"), std::string::npos) << refused.out;
  EXPECT_EQ(planned.status, 0) << planned.out;
  EXPECT_EQ(analyzed.status, 0) << analyzed.out;
  EXPECT_TRUE(ReadHostFile(image_) == before);
}

TEST_F(JobOutcome, ALastCommitThatFailsMakesTheJobAFailureThatCountsWhatReachedTheDisk) {
  // Room for the start's check of the journal's place, not for the undo
  // records of twelve scattered moves.
  TinyFolder tiny(scratch_.path() + "/tiny", "4k");
  if (!tiny.ok()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string env = "SHARDIX_JOURNAL_DIR=" + scratch_.path() + "/tiny";
  Outcome json = Shardix("fragment --count 12 --method scattered --seed 3 --json " + File(), env);
  EXPECT_EQ(json.status, 1) << json.out;
  EXPECT_NE(json.out.find("\"moved\":0"), std::string::npos) << json.out;
  EXPECT_EQ(json.out.find("successfully"), std::string::npos) << json.out;
  Outcome text = Shardix("fragment --count 12 --method scattered --seed 3 " + File(), env);
  EXPECT_EQ(text.status, 1) << text.out;
  EXPECT_NE(text.out.find("Writing the moves to disk.img failed (No space left on device): 0 of the 12 fragments reached it; the file's data is intact (it "
                          "now has 1 fragment)."),
            std::string::npos) << text.out;
  // ntfs-3g's own tools see the file where it was, whole.
  EXPECT_EQ(NtfsinfoExtents(image_, "/f.bin"), runs_);
  EXPECT_TRUE(NtfscatBytes(image_, "/f.bin") == content_);
  Outcome check = Shardix("check " + ShellQuote(image_), env);
  EXPECT_EQ(check.status, 0) << check.out;
}

TEST_F(JobOutcome, ARunMakesExactlyTheMovesItsDryRunPlanned) {
  const std::vector<uint8_t> before = ReadHostFile(image_);
  const std::string args = "--count 9 --method random --seed 77 --json " + File();
  Outcome plan = Shardix("fragment --dry-run " + args);
  ASSERT_EQ(plan.status, 0) << plan.out;
  EXPECT_NE(plan.out.find("\"dry_run\":true"), std::string::npos) << plan.out;
  const auto planned = Pieces(plan.out, "plan");
  ASSERT_EQ(planned.size(), 9u) << plan.out;
  EXPECT_TRUE(ReadHostFile(image_) == before);  // a plan writes nothing at all

  Outcome run = Shardix("fragment " + args);
  ASSERT_EQ(run.status, 0) << run.out;
  // The After side lists the file as ntfsinfo reads it: piece by piece
  // where the plan put it (no two of them side by side here).
  const std::vector<ExpectedExtent> now = NtfsinfoExtents(image_, "/f.bin");
  ASSERT_EQ(now.size(), planned.size());
  for (std::size_t i = 0; i < now.size(); ++i) {
    EXPECT_EQ(now[i].next_vcn - now[i].vcn, planned[i].first) << i;
    EXPECT_EQ(now[i].lcn, planned[i].second) << i;
  }

  Outcome gather_plan = Shardix("defragment --dry-run --json " + File());
  ASSERT_EQ(gather_plan.status, 0) << gather_plan.out;
  const auto gathered = Pieces(gather_plan.out, "plan");
  ASSERT_FALSE(gathered.empty());
  ASSERT_EQ(Shardix("defragment " + File()).status, 0);
  const std::vector<ExpectedExtent> after = NtfsinfoExtents(image_, "/f.bin");
  ASSERT_EQ(after.size(), gathered.size());
  for (std::size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].lcn, gathered[i].second) << i;
  EXPECT_TRUE(NtfscatBytes(image_, "/f.bin") == content_);

  // With an interrupted move waiting, the job would roll it back first and
  // could place pieces elsewhere: the plan says so.
  std::ofstream(image_ + ".shardix-journal", std::ios::binary) << "pending";
  Outcome waiting = Shardix("fragment --dry-run " + args);
  EXPECT_NE(waiting.out.find("interrupted move waiting to be rolled back"), std::string::npos)
      << waiting.out;
}

}  // namespace
}  // namespace shardix::test
