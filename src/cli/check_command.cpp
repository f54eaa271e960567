// shardix check IMAGE: the image's cluster usage rebuilt from every file's
// runlists, against its bitmap.
#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "cli/usage.h"
#include "volume/error_codes.h"
#include "volume/ntfsimage/consistency_check.h"
#include "volume/ntfsimage/ntfs_image.h"

namespace shardix::cli {

int RunCheck(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].rfind("--", 0) == 0)
    return UsageError("check", args.size() == 1 ? "unknown option " + args[0] : "name one image");
  ConsistencyReport report;
  uint32_t code = CheckImageConsistency(args[0], &report);
  if (code != kErrorSuccess) {
    std::fprintf(stderr, "shardix check: %s: %s\n", args[0].c_str(), ErrorMessage(code).c_str());
    // What the image says that cannot be so, when that is what stopped it.
    if (code == kErrorDiskCorrupt && !ImageLibraryDetail().empty())
      std::fprintf(stderr, "shardix check: %s\n", ImageLibraryDetail().c_str());
    return kExitFailure;
  }
  WriteConsistencyReport(report, std::cout);
  std::cout.flush();
  return report.clean() ? kExitSuccess : kExitFailure;
}

}  // namespace shardix::cli
