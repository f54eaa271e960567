// The Windows command line's boundary: arguments arrive as UTF-16, the
// program works in UTF-8, and the console is told to show UTF-8.
#pragma once

#include <string>
#include <vector>

namespace shardix::cli {

// The arguments in UTF-8. An argument that is not valid UTF-16 (an unpaired
// surrogate, which NTFS names may hold) is kept with U+FFFD in its place and
// its index is added to *invalid.
std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv, std::vector<int>* invalid);

// Switches the console's output code page to UTF-8 while the program runs
// (when there is a console), and back at exit.
void UseUtf8Console();

}  // namespace shardix::cli
