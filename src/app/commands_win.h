// Handlers that MainWndProc hands commands and messages to. Each belongs to
// the part of the program that does the work (analysis, fragmentation,
// defragmentation, volume report, layout, help).
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace shardix {

// Commands; each returns whether it did its work (callers ignore it).
bool AnalyzeFile(HWND window);     // "Analyze File"
bool OnFragment(HWND window);      // "Fragment"
bool OnDefragment(HWND window);    // "Defragment"
bool ShowVolumeInfo(HWND window);  // "Volume Info...": the modal dialog 101
bool ShowAboutBox(HWND window);    // "About": the modal dialog 109
bool ShowHelp(HWND window);        // "Help"

// Window layout on resize and its size limits.
void OnSize(HWND window, int client_width, int client_height);
void OnGetMinMaxInfo(HWND window, MINMAXINFO* info);

// A click on a column header of the fragment list.
void SortFragmentList(NMLISTVIEW* notification);

}  // namespace shardix
