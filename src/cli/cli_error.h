// One failure as the command line reports it: filled once, then printed as
// the text line on the error stream (and carried as data by --json).
#pragma once

#include <string>

#include "volume/system_error.h"

namespace shardix::cli {

struct CliError {
  std::string code;     // ErrorName's identifier, or "usage"
  std::string message;  // the system's words, and what to do where that helps
  std::string path;     // the path concerned; "" when none
  std::string action;   // what could not be done to it: "cannot open"; "" when
                        // the message names the path itself
};

// The failure of `action` on `path` with the system's `error`, with what to
// do next where the error alone does not say.
CliError ErrorAt(const std::string& action, const std::string& path, const SystemError& error);

// "shardix: cannot open PATH: MESSAGE", "shardix: PATH: MESSAGE", or
// "shardix: MESSAGE" when the message names the path itself
std::string ErrorLine(const CliError& error);
// The line on stderr.
void ReportError(const CliError& error);
// "shardix: warning: TEXT" on stderr.
void ReportWarning(const std::string& text);

}  // namespace shardix::cli
