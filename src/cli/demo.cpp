// shardix demo [DIR]: a fresh NTFS image with files on it, shown through the
// volume layer.
#include <cstdio>

#include "cli/commands.h"
#include "cli/demo_image.h"

namespace shardix::cli {

#ifndef SHARDIX_HAVE_NTFSIMAGE
// Built without the image backend: there is nothing to make a demo on.
bool MakeDemoImage(const std::string&, DemoImage*) {
  std::fputs("shardix demo: this build cannot reach NTFS images\n", stderr);
  return false;
}

int RunCheck(const std::vector<std::string>&) {
  std::fputs("shardix check: this build cannot reach NTFS images\n", stderr);
  return kExitFailure;
}
#endif

int RunDemo(const std::vector<std::string>& args) {
  if (args.size() > 1 || (args.size() == 1 && args[0].rfind("--", 0) == 0)) {
    std::fputs("usage: shardix demo [DIR]\n", stderr);
    return kExitUsage;
  }
  DemoImage demo;
  if (!MakeDemoImage(args.empty() ? "" : args[0], &demo)) return kExitFailure;
  std::printf("Made the NTFS image %s\nwith a demo file: %s\n\n", demo.image.c_str(),
              demo.file_path.c_str());
  return PrintVolumeAndFile(demo.image, demo.file_path);
}

}  // namespace shardix::cli
