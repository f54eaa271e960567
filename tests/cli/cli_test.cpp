// The command line as a user meets it: the demo end to end, analyze --json
// against ntfsinfo, the exit status of bad input, what a job says it did,
// the files it will not move, progress on a terminal, and saving the report.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/wait.h>

#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

struct CliRun {
  int status;
  std::string out;
};

// `stderr_too`: the error stream goes into `out` as well.
CliRun Shardix(const std::string& words, bool stderr_too = false) {
  std::string command =
      std::string(SHARDIX_CLI) + " " + words + (stderr_too ? " 2>&1" : " 2>/dev/null");
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

  // The fragmented image is the user's now: a second demo leaves it alone
  // unless told to replace it.
  auto bytes = [&image] {
    std::ifstream in(image, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string fragmented = bytes();
  CliRun again = Shardix("demo " + ShellQuote(scratch.path() + "/demo"), true);
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.out.find("--force"), std::string::npos) << again.out;
  EXPECT_TRUE(bytes() == fragmented);
  EXPECT_EQ(Shardix("demo --force " + ShellQuote(scratch.path() + "/demo")).status, 0);
  EXPECT_FALSE(bytes() == fragmented);
}

TEST(CommandLine, BadInputIsRefusedWithoutTouchingAnything) {
  EXPECT_EQ(Shardix("").status, 2);
  EXPECT_EQ(Shardix("no-such-command").status, 2);
  EXPECT_EQ(Shardix("analyze").status, 2);
  EXPECT_EQ(Shardix("analyze a b").status, 2);
  EXPECT_EQ(Shardix("analyze --colour x").status, 2);
  EXPECT_EQ(Shardix("check").status, 2);
  CliRun missing = Shardix("analyze /nonexistent/disk.img/file", true);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("shardix: cannot open /nonexistent/disk.img/file: "), std::string::npos);
  CliRun plain = Shardix("analyze --json /etc/hostname");
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.out.find("\"status\":\"Error: "), std::string::npos);
  CliRun not_ntfs = Shardix("check /etc/hostname");
  EXPECT_EQ(not_ntfs.status, 1);
}

// A number after `key` in JSON text ("key":N), or -1.
int64_t JsonNumber(const std::string& json, const std::string& key, std::size_t from = 0) {
  std::smatch match;
  std::string rest = json.substr(from);
  if (!std::regex_search(rest, match, std::regex("\"" + key + "\":(\\d+)"))) return -1;
  return std::stoll(match[1]);
}

// An image of `megabytes` with `name` copied in by ntfscp: `bytes` random bytes.
std::string ImageWithFile(const ScratchDir& scratch, const std::string& image_name, int megabytes,
                          const std::string& name, std::size_t bytes, std::vector<uint8_t>* content) {
  const std::string image = scratch.path() + "/" + image_name;
  const std::string source = scratch.path() + "/" + name;
  EXPECT_TRUE(MakeNtfsImage(image, uint64_t(megabytes) << 20, 4096));
  *content = PseudoRandomBytes(bytes, 7);
  std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char*>(content->data()),
                                                static_cast<std::streamsize>(content->size()));
  bool ok = false;
  RunCommand("ntfscp " + ShellQuote(image) + " " + ShellQuote(source) + " " + ShellQuote(name), &ok);
  EXPECT_TRUE(ok);
  return image;
}

TEST(CommandLine, NumbersHelpAndVersionFollowTheConventionsAndRefusalsTouchNothing) {
  ScratchDir scratch;
  std::vector<uint8_t> content;
  const std::string image = ImageWithFile(scratch, "disk.img", 8, "f.bin", 400 << 10, &content);
  const std::string file = ShellQuote(image + "/f.bin");
  const std::vector<uint8_t> before = ReadHostFile(image);

  for (const char* count : {"' 5'", "'+5'", "'5abc'", "1e9", "3.7", "abc", "''", "-5"})
    EXPECT_EQ(Shardix("fragment " + file + " --count " + count).status, 2) << count;
  for (const char* seed : {"4294967296", "-1", "0x10", "' 1'"})
    EXPECT_EQ(Shardix("fragment " + file + " --count 3 --seed " + seed).status, 2) << seed;
  EXPECT_EQ(Shardix("fragment " + file + " --count 3 --size 11").status, 2);
  EXPECT_EQ(Shardix("fragment " + file + " --count 3 --method best-fit").status, 2);
  // Counts no file could take are bad usage; one past this file's "Max:" is
  // the job's own refusal.
  for (const char* count : {"0", "4294967296", "99999999999999999999999999"})
    EXPECT_EQ(Shardix("fragment " + file + " --count " + count).status, 2) << count;
  CliRun refused = Shardix("fragment " + file + " --count 101 --json");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("\"status\":\"Error: Number of fragments must be between 1 and 100\""),
            std::string::npos) << refused.out;
  EXPECT_EQ(ReadHostFile(image), before);

  for (const char* command :
       {"analyze", "fragment", "defragment", "volume-info", "check", "scenario", "score", "demo"}) {
    CliRun help = Shardix(std::string(command) + " --help");
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_EQ(help.out.rfind(std::string("usage: shardix ") + command, 0), 0u) << help.out;
    EXPECT_EQ(Shardix(std::string("help ") + command).out, help.out);
  }
  EXPECT_EQ(Shardix("help no-such-command").status, 2);
  EXPECT_EQ(Shardix("help --help").status, 0);
  CliRun version = Shardix("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("shardix [0-9.]+\n"))) << version.out;
  EXPECT_EQ(Shardix("-V").out, version.out);
  EXPECT_EQ(Shardix("fragment -h").out, Shardix("fragment --help").out);

  // Short forms do what the long ones do; a typo gets the nearest word.
  CliRun quiet = Shardix("fragment -q -c 3 --seed 5 " + file);
  EXPECT_EQ(quiet.status, 0) << quiet.out;
  EXPECT_EQ(quiet.out.find("Fragment #"), std::string::npos) << quiet.out;
  CliRun typo = Shardix("fragmnet " + file, true);
  EXPECT_EQ(typo.status, 2);
  EXPECT_NE(typo.out.find("did you mean 'fragment'?"), std::string::npos) << typo.out;
  CliRun option_typo = Shardix("fragment " + file + " --cuont 3", true);
  EXPECT_EQ(option_typo.status, 2);
  EXPECT_NE(option_typo.out.find("did you mean --count?"), std::string::npos) << option_typo.out;
}

TEST(CommandLine, FragmentSaysWhatItDidAndTheSeedRepeatsTheLayout) {
  ScratchDir scratch;
  std::vector<uint8_t> content;
  const std::string image = ImageWithFile(scratch, "disk.img", 16, "f.bin", 1 << 20, &content);
  const std::string copy = scratch.path() + "/copy.img";
  std::filesystem::copy_file(image, copy);
  std::vector<uint8_t> big;
  // Most of a small volume: the pieces run out of room part way.
  const std::string third = ImageWithFile(scratch, "tight.img", 8, "f.bin", 4500000, &big);
  auto fragments_now = [](const std::string& img) {
    return JsonNumber(Shardix("analyze --json " + ShellQuote(img + "/f.bin")).out, "fragment_count");
  };

  // No seed given: the one drawn is printed, and given back on a copy of the
  // image it makes the same layout.
  CliRun drawn = Shardix("fragment " + ShellQuote(image + "/f.bin") + " --count 12 --method random");
  ASSERT_EQ(drawn.status, 0) << drawn.out;
  std::smatch seed;
  ASSERT_TRUE(std::regex_search(drawn.out, seed, std::regex("\nSeed: (\\d+)\n"))) << drawn.out;
  CliRun again = Shardix("fragment " + ShellQuote(copy + "/f.bin") + " --count 12 --method random --seed " +
                         std::string(seed[1]) + " --quiet");
  ASSERT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(again.out.find("Filename:"), std::string::npos) << again.out;  // only the result
  EXPECT_EQ(again.out.find("Seed:"), std::string::npos) << again.out;      // given, not drawn
  EXPECT_EQ(NtfsinfoExtents(copy, "/f.bin"), NtfsinfoExtents(image, "/f.bin"));
  const int64_t random_now = fragments_now(image);
  EXPECT_NE(drawn.out.find(random_now == 12 ? std::string("The file now has 12 fragments, as asked.")
                                            : "The file now has " + std::to_string(random_now) +
                                                  " fragments, not the 12 asked for: "),
            std::string::npos) << drawn.out;

  // First Fit puts the pieces side by side, where they join again.
  CliRun first_fit = Shardix("fragment " + ShellQuote(image + "/f.bin") + " --count 40 --method FIRST_fit --json");
  ASSERT_EQ(first_fit.status, 0) << first_fit.out;
  EXPECT_EQ(JsonNumber(first_fit.out, "requested"), 40);
  EXPECT_EQ(JsonNumber(first_fit.out, "moved"), 40);
  CliRun first_fit_text = Shardix("fragment " + ShellQuote(copy + "/f.bin") + " --count 40 --method firstfit");
  const int64_t now = fragments_now(copy);
  ASSERT_GT(now, 0);
  ASSERT_LT(now, 40);
  EXPECT_NE(first_fit_text.out.find("The file now has " + std::to_string(now) + " fragment" +
                                    (now == 1 ? "" : "s") +
                                    ", not the 40 asked for: First Fit places pieces side by side"),
            std::string::npos) << first_fit_text.out;

  // A job whose pieces do not all find room is refused whole: nothing
  // moves (the image keeps every byte), and it says how many pieces fit.
  const std::vector<uint8_t> third_before = ReadHostFile(third);
  CliRun stuck = Shardix("fragment " + ShellQuote(third + "/f.bin") + " --count 40 --method concentrated --seed 1 --json");
  EXPECT_EQ(stuck.status, 1) << stuck.out;
  EXPECT_NE(stuck.out.find("\"outcome\":\"refused\","), std::string::npos) << stuck.out;
  EXPECT_NE(stuck.out.find("\"code\":\"no-room\""), std::string::npos) << stuck.out;
  EXPECT_EQ(JsonNumber(stuck.out, "seed"), 1);
  EXPECT_EQ(JsonNumber(stuck.out, "moved"), 0);
  CliRun stuck_text = Shardix("fragment " + ShellQuote(third + "/f.bin") + " --count 40 --method concentrated --seed 1");
  EXPECT_EQ(stuck_text.status, 1) << stuck_text.out;
  std::smatch fit;
  ASSERT_TRUE(std::regex_search(stuck_text.out, fit, std::regex("Only (\\d+) of the 40 pieces fit by "
                                                                "Concentrated: piece \\d+ needs \\d+ "
                                                                "free clusters in a row. Nothing was moved")))
      << stuck_text.out;
  EXPECT_LT(std::stoi(fit[1]), 40);
  EXPECT_EQ(JsonNumber(stuck.out, "planned"), std::stoi(fit[1]));
  EXPECT_TRUE(ReadHostFile(third) == third_before);
  EXPECT_EQ(Shardix("check " + ShellQuote(third)).status, 0);
  // Too little free space to gather it: refused before any move.
  CliRun no_room = Shardix("defragment " + ShellQuote(third + "/f.bin"));
  EXPECT_EQ(no_room.status, 1);
  EXPECT_NE(no_room.out.find("0 pieces were moved before the job stopped; the file's data is intact"),
            std::string::npos) << no_room.out;
  EXPECT_EQ(NtfscatBytes(third, "/f.bin"), big);
}

TEST(CommandLine, FoldersStreamsSystemAndSparseFilesGetOneClearRefusalEach) {
  ScratchDir scratch;
  const std::string image = scratch.path() + "/disk.img";
  ASSERT_TRUE(MakeNtfsImage(image, 16 << 20, 4096));
  {
    FuseMount mount(image, scratch.path() + "/mnt");
    ASSERT_TRUE(mount.ok());
    const std::string root = scratch.path() + "/mnt/";
    std::filesystem::create_directory(root + "folder");
    ASSERT_TRUE(WriteWholeFile(root + "data.bin", PseudoRandomBytes(64 * 4096, 1)));
    // Allocated, a hole of 16 clusters, allocated.
    ASSERT_TRUE(WriteWholeFile(root + "holes.bin", PseudoRandomBytes(8 * 4096, 2)));
    FILE* sparse = fopen((root + "holes.bin").c_str(), "r+b");
    ASSERT_TRUE(sparse && fseek(sparse, 24L * 4096, SEEK_SET) == 0);
    std::vector<uint8_t> tail = PseudoRandomBytes(8 * 4096, 3);
    ASSERT_EQ(fwrite(tail.data(), 1, tail.size(), sparse), tail.size());
    ASSERT_EQ(fclose(sparse), 0);
    ASSERT_TRUE(mount.Unmount());
  }
  const std::vector<uint8_t> before = ReadHostFile(image);
  const struct {
    const char* inner;
    const char* refusal;
  } kCases[] = {
      {"/folder", " is a folder, not a file"},
      {"/$Extend", " is a folder, not a file"},
      {"/data.bin:extra", " names a stream (file:stream)"},
      {"/$MFT", " is one of the volume's system files"},
      {"/$Extend/$Quota", " is one of the volume's system files"},
      {"/holes.bin", " is a sparse file"},
  };
  for (const auto& c : kCases) {
    const std::string path = ShellQuote(image + c.inner);
    const std::string expected = "\"status\":\"Error: " + image + c.inner + c.refusal;
    for (const std::string& command : {"analyze --json " + path, "fragment --json --count 2 " + path,
                                       "defragment --json " + path}) {
      CliRun run = Shardix(command);
      EXPECT_EQ(run.status, 1) << command;
      EXPECT_NE(run.out.find(expected), std::string::npos) << command << "\n" << run.out;
    }
  }
  EXPECT_EQ(ReadHostFile(image), before);
  // The sparse file is still listed, its hole without a place on the volume.
  CliRun holes = Shardix("analyze --json " + ShellQuote(image + "/holes.bin"));
  EXPECT_NE(holes.out.find("{\"number\":2,\"clusters\":16,\"lcn\":null}"), std::string::npos) << holes.out;
}

TEST(CommandLine, ProgressIsRedrawnInPlaceOnlyOnATerminal) {
  ScratchDir scratch;
  std::vector<uint8_t> content;
  const std::string image = ImageWithFile(scratch, "disk.img", 16, "f.bin", 1 << 20, &content);
  const std::string copy = scratch.path() + "/copy.img";
  std::filesystem::copy_file(image, copy);
  const std::string words = " --count 60 --method scattered --seed 9";

  CliRun piped = Shardix("fragment " + ShellQuote(copy + "/f.bin") + words);
  ASSERT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(piped.out.find('\r'), std::string::npos);
  EXPECT_EQ(piped.out.find("Attempting to move"), std::string::npos);
  EXPECT_NE(piped.out.find("\nFile was successfully fragmented!\n"), std::string::npos) << piped.out;

  // script(1) gives the program a terminal.
  bool ok = false;
  const std::string terminal = RunCommand(
      "script -qec " + ShellQuote(std::string(SHARDIX_CLI) + " fragment " + ShellQuote(image + "/f.bin") + words) +
          " /dev/null",
      &ok);
  ASSERT_TRUE(ok) << terminal;
  // Each redraw climbs back over the one line break between status and bar,
  // so what stays is the piped output's lines and the bar, not a line per move.
  std::size_t redraws = 0;
  for (std::size_t at = 0; (at = terminal.find("\x1b[1A", at)) != std::string::npos; ++at) ++redraws;
  const auto breaks = static_cast<std::size_t>(std::count(terminal.begin(), terminal.end(), '\n'));
  const auto piped_breaks = static_cast<std::size_t>(std::count(piped.out.begin(), piped.out.end(), '\n'));
  EXPECT_GT(redraws, 60u);
  EXPECT_LE(breaks - redraws, piped_breaks + 2) << terminal;
  EXPECT_NE(terminal.find("\r\x1b[1A\x1b[2KFile was successfully fragmented!"), std::string::npos);
  EXPECT_NE(terminal.find("] 100%"), std::string::npos);
}

// What script(1) shows of `words` run on a terminal of `columns` columns,
// with `environment` set.
std::string OnTerminal(const std::string& words, int columns, const std::string& environment = "") {
  bool ok = false;
  const std::string inner = "stty cols " + std::to_string(columns) + "; " + environment + " " +
                            std::string(SHARDIX_CLI) + " " + words;
  return RunCommand("script -qec " + ShellQuote(inner) + " /dev/null", &ok);
}

TEST(CommandLine, ProgressGoesToTheErrorStreamFittedToTheTerminalAndColourIsOptional) {
  ScratchDir scratch;
  std::vector<uint8_t> content;
  const std::string image = ImageWithFile(scratch, "disk.img", 16, "f.bin", 1 << 20, &content);
  const std::string file = ShellQuote(image + "/f.bin");
  const std::string saved = scratch.path() + "/out.txt";

  // Redirected results leave the progress on the terminal, and lose no status.
  const std::string narrow =
      OnTerminal("fragment " + file + " --count 40 --method scattered --seed 4 > " + ShellQuote(saved), 45);
  EXPECT_NE(narrow.find("] 100%"), std::string::npos) << narrow;
  std::ifstream in(saved);
  const std::string results((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(results.find("\nFile was successfully fragmented!\n"), std::string::npos) << results;
  EXPECT_EQ(results.find('\x1b'), std::string::npos);
  // Every line drawn fits 45 columns, so the redraw never wraps and scrolls.
  for (std::size_t at = 0; (at = narrow.find("\x1b[2K", at)) != std::string::npos;) {
    at += 4;
    const std::size_t end = narrow.find_first_of("\r\n\x1b", at);
    EXPECT_LT((end == std::string::npos ? narrow.size() : end) - at, 45u) << narrow.substr(at, 80);
  }

  // The map reads without colour: characters and a legend.
  const std::string colour_codes = "\x1b[97;";
  CliRun piped = Shardix("analyze " + file);
  EXPECT_NE(piped.out.find("(# this file's clusters, . the rest of the volume)"), std::string::npos);
  EXPECT_EQ(piped.out.find(colour_codes), std::string::npos);
  EXPECT_NE(Shardix("analyze --color=always " + file).out.find(colour_codes), std::string::npos);
  EXPECT_NE(OnTerminal("analyze " + file, 80).find(colour_codes), std::string::npos);
  EXPECT_EQ(OnTerminal("analyze " + file, 80, "NO_COLOR=1").find(colour_codes), std::string::npos);
  EXPECT_EQ(OnTerminal("analyze --color never " + file, 80).find(colour_codes), std::string::npos);
  const std::string dumb = OnTerminal("defragment " + file, 80, "TERM=dumb");
  EXPECT_EQ(dumb.find('\x1b'), std::string::npos) << dumb;
  EXPECT_EQ(Shardix("analyze --color=sometimes " + file).status, 2);
}

TEST(CommandLine, SaveWritesTheReportButNeverOverTheImageAndReportsWriteErrors) {
  ScratchDir scratch;
  std::vector<uint8_t> content;
  const std::string image = ImageWithFile(scratch, "disk.img", 8, "f.bin", 1 << 16, &content);
  const std::vector<uint8_t> before = ReadHostFile(image);
  std::filesystem::create_symlink(image, scratch.path() + "/link.img");
  std::filesystem::create_directory(scratch.path() + "/sub");
  for (const std::string& target : {image, scratch.path() + "/link.img", scratch.path() + "/sub/../disk.img"}) {
    CliRun refused = Shardix("volume-info " + ShellQuote(image + "/f.bin") + " --save " + ShellQuote(target), true);
    EXPECT_EQ(refused.status, 1) << target;
    EXPECT_NE(refused.out.find("is the image or device being reported on"), std::string::npos) << refused.out;
  }
  EXPECT_EQ(ReadHostFile(image), before);

  CliRun full = Shardix("volume-info " + ShellQuote(image) + " --save /dev/full", true);
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.out.find("shardix: cannot save /dev/full: No space left on device"), std::string::npos)
      << full.out;

  // A report saved over an older one: the same bytes as printed, the older
  // one's name and mode kept, nothing else left in the folder.
  const std::string report = scratch.path() + "/sub/report.txt";
  std::ofstream(report) << "old";
  std::filesystem::permissions(report, std::filesystem::perms(0640));
  CliRun saved = Shardix("volume-info " + ShellQuote(image) + " --save " + ShellQuote(report));
  ASSERT_EQ(saved.status, 0);
  std::vector<uint8_t> bytes = ReadHostFile(report);
  std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.rfind("Disk summary:\r\n", 0), 0u);
  std::string lines = text;
  for (std::size_t at = 0; (at = lines.find("\r\n", at)) != std::string::npos;) lines.erase(at, 1);
  EXPECT_NE(saved.out.find("\n\n" + lines), std::string::npos) << saved.out;
  EXPECT_EQ(std::filesystem::status(report).permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path() + "/sub"),
                          std::filesystem::directory_iterator()), 1);
}

}  // namespace
}  // namespace shardix::test
