// Tells the user how to name a file inside an image when a bare host path
// is why the volume layer could not reach it.
#include <cstdio>

#include "cli/commands.h"
#include "analysis/analyze_file.h"
#include "volume/image_path.h"

namespace shardix::cli {

void PrintPathHint(const std::string& path, const FileSession& session) {
  if (session.file) return;
#ifndef _WIN32
  ImagePath split;
  if (SplitImagePath(path, &split) && split.inner == "/")
    std::fprintf(stderr,
                 "shardix: %s is not inside an NTFS image; name a file in an image or device "
                 "as IMAGE/path/in/image\n",
                 path.c_str());
#else
  (void)path;
#endif
}

}  // namespace shardix::cli
