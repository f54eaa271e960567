// Tells the user how to name a file inside an image when a bare host path
// is why the volume layer could not reach it.
#include <cstdio>

#include "cli/commands.h"
#include "analysis/analyze_file.h"
#include "volume/image_path.h"
#ifdef SHARDIX_HAVE_NTFSIMAGE
#include "volume/ntfsimage/ntfs_image.h"
#endif

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

void WarnIfImageInUse(const std::string& path) {
#ifdef SHARDIX_HAVE_NTFSIMAGE
  ImagePath split;
  if (!SplitImagePath(path, &split)) return;
  const std::string in_use = ImageInUseElsewhere(split.image);
  if (!in_use.empty())
    std::fprintf(stderr,
                 "shardix: warning: %s is %s; what it shows may be out of date, and nothing on it "
                 "will be moved\n",
                 split.image.c_str(), in_use.c_str());
#else
  (void)path;
#endif
}

}  // namespace shardix::cli
