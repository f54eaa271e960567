// shardix: the command line front end.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

void PrintUsage(FILE* out) {
  std::fputs(
      "usage: shardix COMMAND [ARGS]\n"
      "\n"
      "commands:\n"
      "  analyze PATH [--json]\n"
      "                  list a file's fragments and show where it lies on its volume\n"
      "  fragment PATH --count N [--size 1..10]\n"
      "           [--method concentrated|scattered|random|first-fit] [--seed N] [--json]\n"
      "                  split a file into N fragments placed by the method\n"
      "  defragment PATH [--json]\n"
      "                  gather a file into as few fragments as the free space allows\n"
      "  volume-info PATH [--sort lcn|clusters|state[:asc|:desc]]... [--save REPORT] [--json]\n"
      "                  the volume's cluster allocation; PATH is any file on it, or the\n"
      "                  image or device itself\n"
      "  check IMAGE     check an NTFS image: cluster usage rebuilt from every file\n"
      "                  against its bitmap; exit status 0 only for a clean volume\n"
      "  scenario RECIPE OUT.img [--force] [--quiet]\n"
      "                  build a test image from a recipe, with a manifest of where\n"
      "                  every file lies (OUT.img.manifest.json and .txt)\n"
      "  scenario --verify MANIFEST IMAGE\n"
      "                  check that the image's files still match the manifest\n"
      "  demo [DIR]      make a fresh NTFS image with files on it (in DIR, or a new\n"
      "                  temporary folder) and run the commands on it\n"
      "  help            show this text\n"
      "\n"
      "PATH names a file inside an NTFS image or device as if the image were a folder:\n"
      "  /srv/disk.img/docs/a.bin\n"
      "Exit status: 0 success, 1 refused or unsuccessful, 2 bad usage.\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace shardix::cli;
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "demo") return RunDemo(args);
  if (command == "check") return RunCheck(args);
  if (command == "scenario") {
#ifdef SHARDIX_HAVE_SCENARIO
    return RunScenario(args);
#else
    std::fputs("shardix scenario: not in this build: scenario images are made with mkntfs and\n"
               "libntfs-3g on Linux\n", stderr);
    return kExitFailure;
#endif
  }
  if (command == "analyze") return RunAnalyze(args);
  if (command == "fragment") return RunFragment(args);
  if (command == "defragment") return RunDefragment(args);
  if (command == "volume-info") return RunVolumeInfo(args);
  if (command == "help" || command == "--help" || command == "-h") {
    PrintUsage(stdout);
    return kExitSuccess;
  }
  std::fprintf(stderr, "shardix: unknown command '%s'\n\n", command.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}
