// How the command line reports what went wrong: one line on stderr with
// the path and the system's own words, nothing of it on stdout, exit 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/wait.h>

#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

struct Streams {
  int status = -1;
  std::string out, err;
};

Streams Shardix(const ScratchDir& scratch, const std::string& words) {
  const std::string err_file = scratch.path() + "/stderr.txt";
  Streams run;
  FILE* pipe = popen((std::string(SHARDIX_CLI) + " " + words + " 2>" + ShellQuote(err_file)).c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) run.out.append(buffer, got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadText(err_file);
  return run;
}

// Exactly one line on stderr, `expected` at its start; nothing on stdout
// says anything went wrong.
void ExpectOneError(const Streams& run, const std::string& expected, const std::string& what) {
  EXPECT_EQ(run.status, 1) << what;
  EXPECT_EQ(run.err.rfind(expected, 0), 0u) << what << "\n" << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << what << "\n" << run.err;
  for (const char* leak : {"Error", "error", "shardix:", "cannot"})
    EXPECT_EQ(run.out.find(leak), std::string::npos) << what << "\n" << run.out;
}

class ErrorReport : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = scratch_.path() + "/d.img";
    ASSERT_TRUE(MakeNtfsImage(image_, 16 << 20, 4096));
    const std::string source = scratch_.path() + "/six.bin";
    std::vector<uint8_t> bytes = PseudoRandomBytes(6 << 20, 5);
    std::ofstream(source, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bool ok = false;
    RunCommand("ntfscp " + ShellQuote(image_) + " " + ShellQuote(source) + " six.bin", &ok);
    ASSERT_TRUE(ok);
  }
  ScratchDir scratch_;
  std::string image_;
};

TEST_F(ErrorReport, AMissingFileInsideAnImageIsNamedWithTheSystemsWords) {
  const std::string missing = image_ + "/docs/a.bin";
  for (const std::string command : {"analyze", "fragment --count 2", "fragment --quiet --count 2",
                                     "defragment", "volume-info"})
    ExpectOneError(Shardix(scratch_, command + " " + ShellQuote(missing)),
                   "shardix: cannot open " + missing + ": " + std::strerror(ENOENT), command);
}

TEST_F(ErrorReport, AFolderOrAnImageWhereAFileIsWantedSaysWhatItIsAndWhatToName) {
  ExpectOneError(Shardix(scratch_, "volume-info " + ShellQuote(scratch_.path())),
                 "shardix: cannot open " + scratch_.path() + ": " + std::strerror(EISDIR) +
                     "; name an NTFS image or device",
                 "volume-info folder");
  ExpectOneError(Shardix(scratch_, "analyze " + ShellQuote(image_)),
                 "shardix: cannot open " + image_ + ": It is an image, not a file inside one; name "
                 "a file in it as IMAGE/path/in/image",
                 "analyze image");
  ExpectOneError(Shardix(scratch_, "check " + ShellQuote(scratch_.path() + "/six.bin")),
                 "shardix: cannot check " + scratch_.path() + "/six.bin: The image or device holds "
                 "no NTFS file system",
                 "check a plain file");
}

TEST_F(ErrorReport, AReportThatCannotBeSavedIsStillPrintedAndTheSaveErrorNamesItsPath) {
  const std::string report = scratch_.path() + "/missing/r.txt";
  Streams run = Shardix(scratch_, "volume-info " + ShellQuote(image_) + " --save " + ShellQuote(report));
  ExpectOneError(run, "shardix: cannot save " + report + ": " + std::strerror(ENOENT), "save");
  EXPECT_NE(run.out.find("Disk summary:"), std::string::npos) << run.out;
}

TEST_F(ErrorReport, AJobRefusedAfterTheAnalysisKeepsTheAnalysisAsItsResult) {
  for (const std::string quiet : {"", "--quiet "}) {
    Streams run = Shardix(scratch_, "fragment " + quiet + "--count 100000 " + ShellQuote(image_ + "/six.bin"));
    ExpectOneError(run, "shardix: Number of fragments must be between 1 and 1536\n", quiet);
    EXPECT_EQ(run.out.find("Filename:") != std::string::npos, quiet.empty()) << run.out;
  }
}

TEST_F(ErrorReport, SizesCountedIn1024sSaySo) {
  Streams run = Shardix(scratch_, "analyze " + ShellQuote(image_ + "/six.bin"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("File Size:     6.0 MiB (1536 Clusters) in "), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace shardix::test
