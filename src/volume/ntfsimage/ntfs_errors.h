// Turning libntfs-3g failures into the volume layer's Windows codes.
#pragma once

#include <cstdint>
#include <string>

namespace shardix::ntfsimage {

// The code for the errno left by a failed library call; never 0, so a
// failure can't read as success even when the library left errno unset.
uint32_t CodeFromErrno(int err);

// The code for a failed ntfs_mount of `image`: not NTFS, in use elsewhere,
// left dirty or hibernated by Windows, and the plain I/O cases.
uint32_t MountFailureCode(int err, const std::string& image);

// Writes "what: the code's message (the library's last error line)" into
// *error (which may be null) and returns `code`.
uint32_t ReportFailure(uint32_t code, const std::string& what, std::string* error);

// The library prints its own diagnostics; we route them here instead of the
// terminal and keep the latest error line of the calling thread, so a caller
// can add it to a report.
void InstallLibraryLogHandler();
std::string LastLibraryMessage();
// Replaces that line with our own finding (damage found before the library
// saw it), so the caller's report names it.
void SetLastLibraryMessage(const std::string& message);

}  // namespace shardix::ntfsimage
