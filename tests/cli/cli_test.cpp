// The command line as a user meets it: the demo end to end, analyze --json
// against ntfsinfo, and the exit status of bad input.
#include <gtest/gtest.h>

#include <regex>
#include <sys/wait.h>

#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

struct CliRun {
  int status;
  std::string out;
};

CliRun Shardix(const std::string& words) {
  std::string command = std::string(SHARDIX_CLI) + " " + words + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  CliRun run{-1, ""};
  if (!pipe) return run;
  char buffer[4096];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) run.out.append(buffer, got);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The {number, clusters, lcn} objects of a --json "fragments" array.
std::vector<ExpectedExtent> JsonFragments(const std::string& json, const std::string& key) {
  std::vector<ExpectedExtent> extents;
  std::size_t at = json.find("\"" + key + "\"");
  if (at == std::string::npos) return extents;
  at = json.find("\"fragments\":[", at);
  std::size_t end = json.find(']', at);
  std::string array = json.substr(at, end - at);
  std::regex row("\\{\"number\":(\\d+),\"clusters\":(\\d+),\"lcn\":(\\d+)\\}");
  int64_t vcn = 0;
  for (std::sregex_iterator it(array.begin(), array.end(), row), stop; it != stop; ++it) {
    int64_t clusters = std::stoll((*it)[2]);
    extents.push_back({vcn, vcn + clusters, static_cast<int64_t>(std::stoull((*it)[3]))});
    vcn += clusters;
  }
  return extents;
}

// ntfsinfo's runs with neighbours on the volume joined, as fragments are.
std::vector<ExpectedExtent> Joined(const std::vector<ExpectedExtent>& runs) {
  std::vector<ExpectedExtent> joined;
  for (const ExpectedExtent& run : runs) {
    if (!joined.empty() && joined.back().lcn >= 0 &&
        joined.back().lcn + (joined.back().next_vcn - joined.back().vcn) == run.lcn)
      joined.back().next_vcn = run.next_vcn;
    else
      joined.push_back(run);
  }
  return joined;
}

TEST(CommandLine, DemoRunsEveryCommandOnAFreshImage) {
  ScratchDir scratch;
  CliRun demo = Shardix("demo " + ShellQuote(scratch.path() + "/demo"));
  ASSERT_EQ(demo.status, 0) << demo.out;
  for (const char* expected : {"File was successfully fragmented!", "in 12 fragments",
                               "File was successfully defragmented!", "Disk Report for: (demo.img)",
                               "Result: clean"})
    EXPECT_NE(demo.out.find(expected), std::string::npos) << expected;

  const std::string image = scratch.path() + "/demo/demo.img";
  CliRun fragment = Shardix("fragment --count 9 --seed 3 --json " + ShellQuote(image + "/demo.bin"));
  ASSERT_EQ(fragment.status, 0) << fragment.out;
  CliRun analyze = Shardix("analyze --json " + ShellQuote(image + "/demo.bin"));
  ASSERT_EQ(analyze.status, 0) << analyze.out;
  std::vector<ExpectedExtent> fragments = JsonFragments(analyze.out, "name");
  EXPECT_EQ(fragments, Joined(NtfsinfoExtents(image, "/demo.bin")));
  EXPECT_EQ(fragments, JsonFragments(fragment.out, "after"));
  EXPECT_GE(fragments.size(), 2u);
  EXPECT_EQ(Shardix("check " + ShellQuote(image)).status, 0);

  // A second demo into the same folder replaces the image.
  EXPECT_EQ(Shardix("demo " + ShellQuote(scratch.path() + "/demo")).status, 0);
}

TEST(CommandLine, BadInputIsRefusedWithoutTouchingAnything) {
  EXPECT_EQ(Shardix("").status, 2);
  EXPECT_EQ(Shardix("no-such-command").status, 2);
  EXPECT_EQ(Shardix("analyze").status, 2);
  EXPECT_EQ(Shardix("analyze a b").status, 2);
  EXPECT_EQ(Shardix("analyze --colour x").status, 2);
  EXPECT_EQ(Shardix("check").status, 2);
  CliRun missing = Shardix("analyze /nonexistent/disk.img/file");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("Error: "), std::string::npos);
  CliRun plain = Shardix("analyze --json /etc/hostname");
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.out.find("\"status\":\"Error: "), std::string::npos);
  CliRun not_ntfs = Shardix("check /etc/hostname");
  EXPECT_EQ(not_ntfs.status, 1);
}

}  // namespace
}  // namespace shardix::test
