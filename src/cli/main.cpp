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
      "  demo [DIR]      make a demo volume and show its figures and a file's extents\n"
      "\n"
      "PATH names a file inside an NTFS image or device as if the image were a folder:\n"
      "  /srv/disk.img/docs/a.bin\n"
      "  help            show this text\n",
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
  if (command == "analyze") return RunAnalyze(args);
  if (command == "help" || command == "--help" || command == "-h") {
    PrintUsage(stdout);
    return kExitSuccess;
  }
  std::fprintf(stderr, "shardix: unknown command '%s'\n\n", command.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}
