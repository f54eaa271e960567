// The command line's help: each command's usage, the overview, the version.
#pragma once

#include <cstdio>
#include <string>

namespace shardix::cli {

// The usage of `command` ("" for the overview of all); false when there is
// no such command.
bool PrintCommandHelp(FILE* out, const std::string& command);

// "shardix COMMAND: PROBLEM" and the command's usage on stderr; returns the
// exit status for bad usage.
// With --json among the words it also prints the JSON object whose error
// has the code "usage" on stdout.
int UsageError(const std::string& command, const std::string& problem);
void SetUsageErrorsAsJson(bool json);

// "shardix VERSION".
void PrintVersion(FILE* out);

}  // namespace shardix::cli
