#include "analysis/analyze_file.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "analysis/file_display.h"
#include "display/text_util.h"
#include "volume/error_codes.h"
#include "volume/image_path.h"

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

bool IsStreamName(const std::string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (IsPathSeparator(path[i])) start = i + 1;
  std::string last = path.substr(start);
  // "C:" and "C:name" begin with a drive, not a stream.
  if (start == 0 && last.size() >= 2 && last[1] == ':' && std::isalpha(static_cast<unsigned char>(last[0])))
    last = last.substr(2);
  return last.find(':') != std::string::npos;
}

std::string KindRefusalText(const std::string& name, FileKind kind) {
  switch (kind) {
    case FileKind::kFolder: return name + " is a folder, not a file";
    case FileKind::kSystem:
      return name + " is one of the volume's system files; its clusters are not moved";
    case FileKind::kSparse:
      return name + " is a sparse file; sparse and compressed files are not fragmented or "
                    "defragmented";
    case FileKind::kCompressed:
      return name + " is compressed; sparse and compressed files are not fragmented or "
                    "defragmented";
    default: return "";
  }
}

bool AnalyzeFile(FileSession& session, const std::string& typed_name, Display& display) {
  uint32_t volume_error = kErrorSuccess;
  ResetFileDisplay(display);

  // The whole text: the 511 characters of a name box take up to three
  // times as many bytes in UTF-8, and a name cut short names another file.
  std::vector<char> buffer(typed_name.begin(), typed_name.end());
  buffer.push_back('\0');
  char* name = TrimWhitespace(buffer.data());
  session.file.reset();
  session.open_error.clear();
  session.refusal.clear();
  if (name[0] == '\0') {
    session.refusal = "no-file-named";
    display.SetStatusError("Please enter a valid file to analyze.");
    session.analysed_path.clear();
    display.EnableSettings(false);
    return false;
  }
  const uint32_t open_code = OpenFileByPath(name, &session.file);
  // A named stream is refused whether or not the volume could open it; a
  // name with a colon that opens inside an image is a file of that name.
  ImagePath in_image;
  const bool stream = IsStreamName(name) &&
                      (open_code != kErrorSuccess || !SplitImagePath(name, &in_image));
  const FileKind kind = session.file && !stream ? session.file->Kind() : FileKind::kOrdinary;
  if (open_code != kErrorSuccess && !stream) session.open_error = SystemErrorFor(open_code);
  if (open_code != kErrorSuccess || stream || kind == FileKind::kFolder) {
    session.refusal = stream ? "stream-name" : kind == FileKind::kFolder ? "folder" : "";
    display.SetStatusError(stream ? std::string(name) + " names a stream (file:stream); only a "
                                                        "file's own data can be analysed"
                           : kind == FileKind::kFolder ? KindRefusalText(name, kind)
                                                       : OpenFailureText(open_code));
    session.file.reset();
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
    session.refusal = "unreadable-extents";
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

  if (kind != FileKind::kOrdinary) {
    display.EnableSettings(false);
    session.refusal = kind == FileKind::kSystem   ? "system-file"
                      : kind == FileKind::kSparse ? "sparse-file"
                                                  : "compressed-file";
    display.SetStatusError(KindRefusalText(name, kind));
    return false;
  }
  if (results.cluster_count < 1) {
    display.EnableSettings(false);
    session.refusal = results.file_size == 0 ? "empty-file" : "resident-file";
    display.SetStatusError(results.file_size == 0
                               ? "Files that are 0 Bytes in size cannot be fragmented."
                               : "Files stored in the Master File Table (MFT) cannot be fragmented.");
    return false;
  }
  if (!session.volume) {
    session.open_error = SystemErrorFor(volume_error);
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
