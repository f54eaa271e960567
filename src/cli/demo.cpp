// shardix demo [DIR]: a fresh NTFS image with files on it, and every
// command run on its demo file, before and after.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/usage.h"
#ifdef SHARDIX_HAVE_SCENARIO
#include "cli/demo_recipe.h"
#include "cli/stop_signals.h"
#include "scenario/recipe.h"
#include "scenario/scenario.h"
#endif

namespace shardix::cli {

#ifndef SHARDIX_HAVE_NTFSIMAGE
int RunCheck(const std::vector<std::string>&) {
  std::fputs("shardix: this build cannot reach NTFS images\n", stderr);
  return kExitFailure;
}
#endif

namespace {

namespace fs = std::filesystem;

struct DemoImage {
  std::string folder;
  std::string image;      // the image file
  std::string file_path;  // the demo file, image-as-folder
};

std::string NewTemporaryFolder() {
  fs::path base = fs::temp_directory_path();
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    fs::path candidate = base / ("shardix-demo-" + std::to_string(std::rand() % 1000000));
    std::error_code error;
    if (fs::create_directory(candidate, error)) return candidate.string();
  }
  return "";
}

#ifdef SHARDIX_HAVE_SCENARIO
constexpr bool kCanBuild = true;

// The demo recipe built by the scenario builder, as any recipe is.
int BuildDemoImage(const std::string& image) {
  scenario::Recipe recipe;
  std::string error;
  if (!scenario::ParseRecipe(kDemoRecipe, scenario::RecipeOptions{}, &recipe, &error)) {
    std::fprintf(stderr, "shardix: the demo recipe: %s\n", error.c_str());
    return kExitFailure;
  }
  std::error_code fs_error;
  fs::remove(image, fs_error);
  scenario::ScenarioResult result;
  const std::atomic<bool>* stop = InstallStopSignals();
  if (!scenario::BuildScenario(recipe, image, &result, nullptr, stop, &error)) {
    std::fprintf(stderr, "shardix: making %s: %s\n", image.c_str(), error.c_str());
    return stop->load() ? StopExitStatus() : kExitFailure;
  }
  return kExitSuccess;
}
#else
constexpr bool kCanBuild = false;

int BuildDemoImage(const std::string&) {
  std::fputs("shardix: making the demo image needs mkntfs from Linux's ntfs-3g package; "
             "make it with shardix demo on Linux\n",
             stderr);
  return kExitFailure;
}
#endif

// Makes the image in `folder` (created if missing; "" for a new folder under
// the system's temporary folder). An image already there is replaced only
// with `replace`: it may be one the user fragmented by hand.
int MakeDemoImage(const std::string& folder, bool replace, DemoImage* out) {
  if (!kCanBuild) return BuildDemoImage("");  // says why, before any folder is made
  std::error_code error;
  out->folder = folder.empty() ? NewTemporaryFolder() : folder;
  if (out->folder.empty() || (!fs::create_directories(out->folder, error) && error)) {
    std::fprintf(stderr, "shardix: cannot make the folder %s: %s\n", out->folder.c_str(),
                 error.message().c_str());
    return kExitFailure;
  }
  out->image = (fs::path(out->folder) / "demo.img").string();
  out->file_path = out->image + "/demo.bin";
  if (fs::exists(fs::symlink_status(out->image, error)) && !replace) {
    std::fprintf(stderr, "shardix: %s exists; nothing was changed (--force replaces it)\n",
                 out->image.c_str());
    return kExitFailure;
  }
  return BuildDemoImage(out->image);
}

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
  if (const int status = MakeDemoImage(words.positional.empty() ? "" : words.positional[0],
                                       words.Has("--force"), &demo)) {
    // What failed is on stderr already.
    if (json) {
      const JsonError error{"demo-image-failed", "the demo image could not be made",
                            words.positional.empty() ? "" : words.positional[0], ""};
      PrintJson(CommandJson("demo", &error, {{"folder", nullptr}, {"image", nullptr},
                                             {"file", nullptr}, {"steps", Json::array()}}));
    }
    return status;
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
  const JsonError error{"step-failed", "a step of the demo did not succeed", demo.image, ""};
  if (worst != kExitSuccess) ReportError(error);
  PrintJson(CommandJson("demo", worst == kExitSuccess ? nullptr : &error, fields));
  return worst;
}

}  // namespace shardix::cli
