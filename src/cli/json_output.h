// The command line's --json output: one object per command on stdout,
// {"command", "ok", "error", ...}, written with nlohmann-json. docs/json.md
// describes every object; the schema beside it is what the tests hold the
// output to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_error.h"

namespace shardix::cli {

using Json = nlohmann::ordered_json;

// Why a command failed, as scripts match it: `code` a stable name (the
// system's, or one of ours in kebab case), `message` the human line that
// stderr also shows, `path` the path concerned ("" for none: null).
using JsonError = CliError;

// The name of a system error code: the errno name where the code came from
// one (Linux), the Win32 name on Windows, else "WIN32_<n>"; our own codes
// by their kebab-case names.
std::string ErrorCodeName(uint32_t code);

// Puts text under `key`: as it is when it is well-formed UTF-8, else with
// U+FFFD for each stray byte and, exact, as hex bytes under KEY_hex (as the
// scenario manifests put names). File names on Linux may be any bytes.
void PutText(Json& object, const std::string& key, const std::string& text);
// The text with each byte that is not well-formed UTF-8 as U+FFFD.
std::string ReadableText(const std::string& text);

Json ErrorJson(const JsonError& error);

// {"command": command, "ok": !error, "error": error or null} followed by
// `fields`.
Json CommandJson(const std::string& command, const JsonError* error, const Json& fields);

// The error's one line for people on stderr (ReportError's); the command
// is named only by usage errors.
void PrintErrorLine(const std::string& command, const JsonError& error);

// Prints one object on stdout, or hands it to the sink that is set.
void PrintJson(const Json& object);
// While set, PrintJson hands objects to `sink` instead of printing them
// (the demo gathers its steps' objects so).
void SetJsonSink(std::function<void(const Json&)> sink);

// Whether --json stands among a command's words (before "--").
bool AsksForJson(const std::vector<std::string>& words);

}  // namespace shardix::cli
