// shardix check IMAGE: the image's cluster usage rebuilt from every file's
// runlists, against its bitmap.
#include <cstdio>
#include <iostream>

#include "cli/cli_error.h"
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
  ForgetSystemError();
  uint32_t code = CheckImageConsistency(args[0], &report);
  if (code != kErrorSuccess) {
    CliError error = ErrorAt("cannot check", args[0], SystemErrorFor(code));
    // What the image says that cannot be so, when that is what stopped it.
    if (code == kErrorDiskCorrupt && !ImageLibraryDetail().empty())
      error.message += " (" + ImageLibraryDetail() + ")";
    ReportError(error);
    return kExitFailure;
  }
  WriteConsistencyReport(report, std::cout);
  std::cout.flush();
  return report.clean() ? kExitSuccess : kExitFailure;
}

}  // namespace shardix::cli
