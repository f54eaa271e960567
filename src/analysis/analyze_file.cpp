#include "analysis/analyze_file.h"

#include <cstring>

#include "analysis/file_display.h"
#include "display/text_util.h"
#include "volume/error_codes.h"

namespace shardix {

std::string OpenFailureText(uint32_t code) {
  switch (code) {
    case kErrorFileNotFound: return "File not found";
    case kErrorPathNotFound: return "Path not found";
    case kErrorTooManyOpenFiles: return "Unable to open file";
    case kErrorAccessDenied: return "File access is denied";
    case kErrorSharingViolation:
    case kErrorLockViolation: return "File is being used by another process";
    default: return ErrorMessage(code).substr(0, kTextBufferSize - 1);
  }
}

bool AnalyzeFile(FileSession& session, const std::string& typed_name, Display& display) {
  uint32_t volume_error = kErrorSuccess;
  ResetFileDisplay(display);

  char name[kTextBufferSize] = {};
  std::strncpy(name, typed_name.c_str(), sizeof name - 1);
  session.file.reset();
  TrimWhitespace(name);

  if (name[0] == '\0') {
    display.SetStatusError("Please enter a valid file to analyze.");
    session.analysed_path.clear();
    display.EnableSettings(false);
    return false;
  }
  if (uint32_t code = OpenFileByPath(name, &session.file); code != kErrorSuccess) {
    display.SetStatusError(OpenFailureText(code));
    session.analysed_path.clear();
    display.EnableSettings(false);
    return false;
  }

  session.analysed_path = name;
  session.volume.reset();
  volume_error = OpenVolumeByPath(name, &session.volume);

  ScanResults& results = session.results;
  results = ScanResults{};
  if (ScanFileExtents(session.file.get(), session.volume.get(), display, &results) != 0) {
    display.EnableSettings(false);
    display.SetStatusError("Unable to analyze file");
    return false;
  }

  display.FitFragmentListColumns();
  ShowFileInfo(display, session.analysed_path, results.file_size, results.fragment_count,
               results.cluster_count);
  ShowPercentFragmented(display, TextField::kPercentBefore, results.fragment_count,
                        results.cluster_count, results.volume_cluster_count, results.lcn_span);
  DrawFileBar(display, ClusterBar::kBefore, results.volume_cluster_count);
  ShowMaxFragments(display, results.fragment_count, results.cluster_count);

  if (results.cluster_count < 1) {
    display.EnableSettings(false);
    display.SetStatusError(results.file_size == 0
                               ? "Files that are 0 Bytes in size cannot be fragmented."
                               : "Files stored in the Master File Table (MFT) cannot be fragmented.");
    return false;
  }
  if (!session.volume) {
    display.EnableSettings(false);
    display.SetStatusError(volume_error == kErrorAccessDenied
                               ? "You must have administrative access to the volume to fragment "
                                 "this file."
                               : ErrorMessage(volume_error));
    return false;
  }
  display.EnableSettings(true);
  if (results.fragment_count <= 1) display.EnableCommand(Command::kDefragment, false);
  return true;
}

}  // namespace shardix
