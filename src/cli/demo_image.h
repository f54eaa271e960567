// Making the demo's NTFS image: mkntfs on a sparse file, then files of
// different sizes written and some deleted again, so that free space lies
// in pieces as on a volume in use.
#pragma once

#include <string>

namespace shardix::cli {

struct DemoImage {
  std::string folder;
  std::string image;      // the image file
  std::string file_path;  // the demo file, image-as-folder
};

// Makes (or replaces) the image in `folder` (created if missing; "" for a
// new folder under the system's temporary folder). Prints what failed and
// returns false on failure.
bool MakeDemoImage(const std::string& folder, DemoImage* out);

}  // namespace shardix::cli
