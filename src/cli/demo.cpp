// shardix demo [DIR]: a fresh NTFS image with files on it, and every
// command run on its demo file, before and after.
#include <cstdio>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/demo_image.h"
#include "cli/usage.h"

namespace shardix::cli {

#ifndef SHARDIX_HAVE_NTFSIMAGE
// Built without the image backend: there is nothing to make a demo on.
bool MakeDemoImage(const std::string&, bool, DemoImage*) {
  std::fputs("shardix: this build cannot reach NTFS images\n", stderr);
  return false;
}

int RunCheck(const std::vector<std::string>&) {
  std::fputs("shardix: this build cannot reach NTFS images\n", stderr);
  return kExitFailure;
}
#endif

namespace {

int Step(const char* title, int (*command)(const std::vector<std::string>&),
         const std::vector<std::string>& args) {
  std::printf("\n==== shardix %s", title);
  for (const std::string& arg : args) std::printf(" %s", arg.c_str());
  std::printf("\n\n");
  std::fflush(stdout);
  int status = command(args);
  std::fflush(stdout);
  return status;
}

}  // namespace

int RunDemo(const std::vector<std::string>& args) {
  Arguments words = ParseArguments(args, {"--force"}, {});
  if (!words.error.empty()) return UsageError("demo", words.error);
  if (words.positional.size() > 1) return UsageError("demo", "name one folder");
  DemoImage demo;
  if (!MakeDemoImage(words.positional.empty() ? "" : words.positional[0], words.Has("--force"), &demo))
    return kExitFailure;
  std::printf("Made the NTFS image %s\nwith a demo file: %s\n", demo.image.c_str(),
              demo.file_path.c_str());

  int worst = kExitSuccess;
  auto run = [&worst](const char* title, int (*command)(const std::vector<std::string>&),
                      const std::vector<std::string>& words) {
    int status = Step(title, command, words);
    if (status > worst) worst = status;
  };
  run("analyze", RunAnalyze, {demo.file_path});
  run("fragment", RunFragment, {demo.file_path, "--count", "12", "--method", "scattered"});
  run("defragment", RunDefragment, {demo.file_path});
  run("volume-info", RunVolumeInfo, {demo.image});
  run("check", RunCheck, {demo.image});
  std::printf("\nThe image stays in %s; try the commands on %s yourself.\n", demo.folder.c_str(),
              demo.file_path.c_str());
  return worst;
}

}  // namespace shardix::cli
