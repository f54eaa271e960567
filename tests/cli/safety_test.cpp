// What the command line promises around a job on an image: SIGINT and
// SIGTERM stop it after the move in flight with a clean volume, and an image
// mounted elsewhere (or backing a loop device) is refused for jobs and only
// read, with a warning.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>

#include "tests/volume/ntfsimage_fixture.h"
#include "volume/ntfsimage/consistency_check.h"
#include "tests/support/image_writing.h"

namespace shardix::test {
namespace {

// The program started with stdout and stderr on one pipe.
class Running {
 public:
  explicit Running(const std::vector<std::string>& words) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      dup2(fds[1], 2);
      close(fds[0]);
      close(fds[1]);
      std::vector<char*> argv{const_cast<char*>(SHARDIX_CLI)};
      for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
      argv.push_back(nullptr);
      execv(SHARDIX_CLI, argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_fd_ = fds[0];
  }
  ~Running() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
  }
  // Reads until `text` has appeared (true) or the output ended (false).
  bool WaitFor(const std::string& text) {
    while (output_.find(text) == std::string::npos)
      if (!ReadSome()) return false;
    return true;
  }
  void Signal(int number) { kill(pid_, number); }
  // Reads to the end and returns the exit status (-1 for a death by signal).
  int Finish() {
    while (ReadSome()) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }
  const std::string& output() const { return output_; }

 private:
  bool ReadSome() {
    pollfd wait{out_fd_, POLLIN, 0};
    if (poll(&wait, 1, 60000) <= 0) return false;
    char buffer[4096];
    const ssize_t got = read(out_fd_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<size_t>(got));
    return true;
  }
  pid_t pid_ = -1;
  int out_fd_ = -1;
  int status_ = -1;
  std::string output_;
};

int RunToEnd(const std::vector<std::string>& words, std::string* output) {
  Running run(words);
  const int status = run.Finish();
  *output = run.output();
  return status;
}

class CommandLineSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = scratch_.path() + "/volume.img";
    ASSERT_TRUE(MakeNtfsImage(image_, 160u << 20, 4096));
    std::string error;
    ASSERT_EQ(WriteFileToImage(image_, "/big.bin", content_, &error), 0u) << error;
  }
  void ExpectCleanAndIntact() {
    EXPECT_FALSE(std::filesystem::exists(image_ + ".shardix-journal"));
    ConsistencyReport report;
    ASSERT_EQ(CheckImageConsistency(image_, &report), 0u);
    EXPECT_TRUE(report.clean());
    EXPECT_EQ(report.journal, "");  // nothing was left to roll back
    EXPECT_TRUE(NtfscatBytes(image_, "/big.bin") == content_);
  }

  ScratchDir scratch_;
  std::string image_;
  const std::vector<uint8_t> content_ = PseudoRandomBytes(40u << 20, 21);
};

TEST_F(CommandLineSafety, SigintAndSigtermStopAfterTheMoveInFlight) {
  const std::regex stopped("Stopped: (\\d+) of 5000 fragments moved");
  for (int number : {SIGINT, SIGTERM}) {
    Running job({"fragment", image_ + "/big.bin", "--count", "5000", "--method", "scattered",
                 "--seed", "8"});
    // Piped, the job's status lines are not echoed; the job starts as soon
    // as the analysis before it is printed.
    ASSERT_TRUE(job.WaitFor("Before Fragmentation")) << job.output();
    job.Signal(number);
    if (number == SIGINT) job.Signal(SIGINT);  // a second Ctrl+C still waits
    const int status = job.Finish();
    EXPECT_EQ(status, number == SIGINT ? 130 : 143) << job.output();
    EXPECT_NE(job.output().find("Stopping after the move in flight"), std::string::npos);
    std::smatch found;
    ASSERT_TRUE(std::regex_search(job.output(), found, stopped)) << job.output();
    EXPECT_LT(std::stoi(found[1]), 5000);
    ExpectCleanAndIntact();
  }
}

TEST_F(CommandLineSafety, AnImageMountedElsewhereIsRefusedForJobsAndReadWithAWarning) {
  std::string output;
  {
    FuseMount mount(image_, scratch_.path() + "/mnt");
    ASSERT_TRUE(mount.ok());
    EXPECT_EQ(RunToEnd({"fragment", image_ + "/big.bin", "--count", "4"}, &output), 1);
    EXPECT_NE(output.find("is mounted at " + scratch_.path() + "/mnt"), std::string::npos) << output;
    EXPECT_EQ(output.find("Attempting to move"), std::string::npos) << output;
    EXPECT_EQ(RunToEnd({"defragment", image_ + "/big.bin", "--json"}, &output), 1);
    EXPECT_NE(output.find("\"status\":\"Error: "), std::string::npos) << output;

    EXPECT_EQ(RunToEnd({"analyze", image_ + "/big.bin"}, &output), 0) << output;
    EXPECT_NE(output.find("may be out of date"), std::string::npos) << output;
    EXPECT_NE(output.find("in 1 fragments"), std::string::npos) << output;
    RunToEnd({"check", image_}, &output);
    EXPECT_NE(output.find("In use: mounted at"), std::string::npos) << output;
    ASSERT_TRUE(mount.Unmount());
  }
  // A loop device backed by the image (where this machine lets us make one).
  bool made = false;
  std::string loop = RunCommand("losetup -f --show " + ShellQuote(image_) + " 2>/dev/null", &made);
  if (made && loop.rfind("/dev/loop", 0) == 0) {
    loop.erase(loop.find_last_not_of("\n") + 1);
    EXPECT_EQ(RunToEnd({"defragment", image_ + "/big.bin"}, &output), 1);
    EXPECT_NE(output.find("is the backing file of " + loop), std::string::npos) << output;
    RunCommand("losetup -d " + loop, &made);
  }
  // A write lock such as another Shardix job's (here this test's own): reads
  // go on with a warning, jobs are refused.
  {
    const int fd = open(image_.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct flock lock{};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(fd, F_SETLK, &lock), 0);
    for (const std::vector<std::string>& read : std::vector<std::vector<std::string>>{
             {"analyze", image_ + "/big.bin"}, {"volume-info", image_}, {"check", image_}}) {
      EXPECT_EQ(RunToEnd(read, &output), 0) << read[0] << ": " << output;
      EXPECT_NE(output.find("held for writing by process " + std::to_string(getpid())),
                std::string::npos) << read[0] << ": " << output;
    }
    EXPECT_EQ(RunToEnd({"fragment", image_ + "/big.bin", "--count", "4"}, &output), 1);
    EXPECT_NE(output.find("held for writing"), std::string::npos) << output;
    close(fd);
  }
  EXPECT_EQ(RunToEnd({"fragment", image_ + "/big.bin", "--count", "4"}, &output), 0) << output;
  ExpectCleanAndIntact();
}

}  // namespace
}  // namespace shardix::test
