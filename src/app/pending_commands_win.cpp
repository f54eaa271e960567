// Stubs for the handlers whose parts are not written yet: each does nothing
// and moves to its part's own file when that part arrives.
#include "app/commands_win.h"

namespace shardix {

bool AnalyzeFile(HWND) { return false; }
bool OnFragment(HWND) { return false; }
bool OnDefragment(HWND) { return false; }
bool ShowVolumeInfo(HWND) { return false; }
bool ShowAboutBox(HWND) { return false; }
bool ShowHelp(HWND) { return false; }

void OnSize(HWND, int, int) {}
void OnGetMinMaxInfo(HWND, MINMAXINFO*) {}

void SortFragmentList(NMLISTVIEW*) {}

}  // namespace shardix
