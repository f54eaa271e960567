// The "Help" command: the HTML help beside the program, opened by the shell.
#pragma once

#include <windows.h>

#include <cstddef>

namespace shardix {

// Where the help file lies under the program's folder.
constexpr char kHelpFolder[] = "\\help\\html\\";
constexpr char kHelpFile[] = "Index.html";

// The help path for a program at `program_path`: its folder (the path up to
// its last backslash) followed by "\help\html\Index.html". False, with an
// empty `help_path`, when the result does not fit in `size` bytes.
bool HelpPathFor(const char* program_path, char* help_path, std::size_t size);

// The explanation of a failed shell request (a result from 0 to 32).
const char* ShellErrorText(INT_PTR result);

// Opens the help file with the shell's "open" verb; a failure is explained in
// a box owned by `window`. Returns whether the help was opened.
bool ShowHelp(HWND window);

}  // namespace shardix
