// A refused analysis said once on the error stream, in the system's words
// and with the path, and the warning for an image that something else holds.
#include <cstdio>

#include "analysis/analyze_file.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/terminal_display.h"
#include "volume/image_path.h"
#ifdef SHARDIX_HAVE_NTFSIMAGE
#include "volume/ntfsimage/ntfs_image.h"
#endif

namespace shardix::cli {

bool AnalysisIsOnlyStatus(const TerminalDisplay& analysis) {
  return analysis.Text(TextField::kFileName).empty() && analysis.rows().empty();
}

CliError AnalysisError(const std::string& path, const TerminalDisplay& analysis,
                       const FileSession& session) {
  if (!analysis.StatusIsError()) return {};
  if (!session.file && session.open_error) return ErrorAt("cannot open", path, session.open_error);
  const std::string code = session.open_error         ? ErrorName(session.open_error)
                           : !session.refusal.empty() ? session.refusal
                                                      : "refused";
  return {code, StatusMessage(analysis.status()), path, ""};
}

bool ReportRefusedAnalysis(const std::string& path, const TerminalDisplay& analysis,
                           const FileSession& session) {
  if (!analysis.StatusIsError()) return false;
  if (!analysis.box_shown()) ReportError(AnalysisError(path, analysis, session));
  return true;
}

void WarnIfImageInUse(const std::string& path) {
#ifdef SHARDIX_HAVE_NTFSIMAGE
  ImagePath split;
  if (!SplitImagePath(path, &split)) return;
  const std::string in_use = ImageInUseElsewhere(split.image);
  if (!in_use.empty())
    ReportWarning(split.image + " is " + in_use +
                  "; what it shows may be out of date, and nothing on it will be moved");
#else
  (void)path;
#endif
}

}  // namespace shardix::cli
