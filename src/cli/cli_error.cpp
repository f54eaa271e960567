#include "cli/cli_error.h"

#include <cerrno>
#include <cstdio>

#include "volume/error_codes.h"
#include "volume/image_path.h"

namespace shardix::cli {

namespace {

constexpr char kOpenAction[] = "cannot open";

// What to do when a path outside any image was named: only files inside
// NTFS images (and, on Windows, mounted volumes) can be reached.
std::string Hint(const std::string& path, const SystemError& error) {
#ifndef _WIN32
  ImagePath split;
  if (path.empty() || SplitImagePath(path, &split)) return "";
  if (error == std::errc::no_such_file_or_directory || error == std::errc::is_a_directory ||
      error == std::errc::not_a_directory)
    return "; name an NTFS image or device, or a file inside one as IMAGE/path/in/image";
#else
  (void)path, (void)error;
#endif
  return "";
}

}  // namespace

CliError ErrorAt(const std::string& action, const std::string& path, const SystemError& error) {
  std::string message = error.message();
  while (!message.empty() && (message.back() == '.' || message.back() == ' ')) message.pop_back();
  if (action == kOpenAction) message += Hint(path, error);
  return {ErrorName(error), message, path, action};
}

std::string ErrorLine(const CliError& error) {
  if (error.action.empty()) {
    // The path leads unless the message names it already.
    const bool named = error.path.empty() || error.message.find(error.path) != std::string::npos;
    return "shardix: " + (named ? "" : error.path + ": ") + error.message;
  }
  return "shardix: " + error.action + " " + error.path + ": " + error.message;
}

void ReportError(const CliError& error) {
  std::fflush(stdout);  // what came before it, in order, on a shared terminal
  std::fprintf(stderr, "%s\n", ErrorLine(error).c_str());
}

void ReportWarning(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "shardix: warning: %s\n", text.c_str());
}

}  // namespace shardix::cli
