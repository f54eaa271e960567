// shardix demo [DIR]: a fresh NTFS image with files on it, and every
// command run on its demo file, before and after.
#include <cstdio>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/demo_image.h"
#include "cli/json_output.h"
#include "cli/usage.h"

namespace shardix::cli {

#ifndef SHARDIX_HAVE_NTFSIMAGE
// Built without the image backend: there is nothing to make a demo on.
bool MakeDemoImage(const std::string&, bool, DemoImage*) {
  std::fputs("shardix demo: this build cannot reach NTFS images\n", stderr);
  return false;
}

int RunCheck(const std::vector<std::string>&) {
  std::fputs("shardix check: this build cannot reach NTFS images\n", stderr);
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
  Arguments words = ParseArguments(args, {"--force", "--json"}, {});
  if (!words.error.empty()) return UsageError("demo", words.error);
  if (words.positional.size() > 1) return UsageError("demo", "name one folder");
  const bool json = words.Has("--json");
  DemoImage demo;
  if (!MakeDemoImage(words.positional.empty() ? "" : words.positional[0], words.Has("--force"), &demo)) {
    // What failed is on stderr already.
    if (json) {
      const JsonError error{"demo-image-failed", "the demo image could not be made",
                            words.positional.empty() ? "" : words.positional[0]};
      PrintJson(CommandJson("demo", &error, {{"folder", nullptr}, {"image", nullptr},
                                             {"file", nullptr}, {"steps", Json::array()}}));
    }
    return kExitFailure;
  }
  if (!json)
    std::printf("Made the NTFS image %s\nwith a demo file: %s\n", demo.image.c_str(),
                demo.file_path.c_str());

  // With --json each step's object is gathered into the demo's own.
  Json steps = Json::array();
  if (json) SetJsonSink([&steps](const Json& object) { steps.back()["result"] = object; });
  int worst = kExitSuccess;
  auto run = [&](const char* title, int (*command)(const std::vector<std::string>&),
                 std::vector<std::string> words) {
    int status = 0;
    if (json) {
      words.push_back("--json");
      steps.push_back({{"arguments", Json::array()}, {"exit_status", 0}, {"result", nullptr}});
      for (const std::string& word : words) steps.back()["arguments"].push_back(ReadableText(word));
      status = command(words);
      steps.back()["exit_status"] = status;
    } else {
      status = Step(title, command, words);
    }
    if (status > worst) worst = status;
  };
  run("analyze", RunAnalyze, {demo.file_path});
  run("fragment", RunFragment, {demo.file_path, "--count", "12", "--method", "scattered"});
  run("defragment", RunDefragment, {demo.file_path});
  run("volume-info", RunVolumeInfo, {demo.image});
  run("check", RunCheck, {demo.image});
  if (!json) {
    std::printf("\nThe image stays in %s; try the commands on %s yourself.\n", demo.folder.c_str(),
                demo.file_path.c_str());
    return worst;
  }
  SetJsonSink(nullptr);
  Json fields;
  PutText(fields, "folder", demo.folder);
  PutText(fields, "image", demo.image);
  PutText(fields, "file", demo.file_path);
  fields["steps"] = steps;
  const JsonError error{"step-failed", "a step of the demo did not succeed", demo.image};
  if (worst != kExitSuccess) std::fprintf(stderr, "shardix demo: %s\n", error.message.c_str());
  PrintJson(CommandJson("demo", worst == kExitSuccess ? nullptr : &error, fields));
  return worst;
}

}  // namespace shardix::cli
