#include <windows.h>

#include <cstdlib>

#include "cli/console.h"
#include "volume/wide_text.h"

namespace shardix::cli {

namespace {

UINT g_previous_output_cp = 0;

void RestoreConsole() {
  if (g_previous_output_cp != 0) SetConsoleOutputCP(g_previous_output_cp);
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv, std::vector<int>* invalid) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    bool valid = true;
    args.push_back(Utf8FromWide(argv[i], &valid));
    if (!valid) invalid->push_back(i);
  }
  return args;
}

void UseUtf8Console() {
  // GetConsoleOutputCP answers 0 without a console (output to a file or a
  // pipe takes the UTF-8 bytes as they are).
  const UINT current = GetConsoleOutputCP();
  if (current == 0 || current == CP_UTF8) return;
  if (!SetConsoleOutputCP(CP_UTF8)) return;
  // The console outlives the program: leave it as found.
  g_previous_output_cp = current;
  std::atexit(RestoreConsole);
}

}  // namespace shardix::cli
