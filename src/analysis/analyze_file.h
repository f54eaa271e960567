// The Analyze File command: open the named file and its volume, scan its
// extents and fill the result display.
#pragma once

#include <memory>
#include <string>

#include "analysis/extent_scan.h"
#include "display/display.h"
#include "volume/system_error.h"
#include "volume/volume.h"

namespace shardix {

// What an analysis leaves for the later commands: the open file and volume
// (either may be empty), the analysed path, and the figures of the last scan.
struct FileSession {
  std::unique_ptr<VolumeFile> file;
  std::unique_ptr<Volume> volume;
  std::string analysed_path;
  ScanResults results;
  // Why the file could not be opened, as the system said it (none when it
  // opened, or when a name was refused before any open).
  SystemError open_error;
  // Why the analysis refused the file otherwise, for scripts: a short name
  // of the reason ("stream-name", "folder", "sparse-file", "empty-file",
  // ...); "" when it did not refuse or the system's error says why.
  std::string refusal;
};

// Analyses `typed_name` (trimmed first; the caller's text stays as typed).
// Returns true when the file may be fragmented. Every refusal is written to
// the status line and switches the settings off.
bool AnalyzeFile(FileSession& session, const std::string& typed_name, Display& display);

// Whether the path's last part names a stream ("file:stream"; a drive's
// "C:" does not count).
bool IsStreamName(const std::string& path);

// The refusal for a file the jobs do not move ("" for an ordinary one).
std::string KindRefusalText(const std::string& name, FileKind kind);

// The status text for a file that cannot be opened.
std::string OpenFailureText(uint32_t code);

}  // namespace shardix
