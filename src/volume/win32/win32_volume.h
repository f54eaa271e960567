// The Windows backend: the NTFS control codes on a mounted volume.
#pragma once

#include <memory>
#include <string>

#include "volume/volume.h"

namespace shardix {

// The file with attribute access only, no sharing, no buffering.
uint32_t OpenWin32File(const std::string& path, std::unique_ptr<VolumeFile>* out);
// The volume "\\.\X:" of the path's drive letter, read-write, shared.
// A path without a drive letter gives ERROR_ACCESS_DENIED, as a volume that
// may not be opened.
uint32_t OpenWin32Volume(const std::string& path, std::unique_ptr<Volume>* out);

// The drive designator ("C:") of a path, or "" when it has none.
std::string DriveOfPath(const std::string& path);

}  // namespace shardix
