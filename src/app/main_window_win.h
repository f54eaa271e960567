// The main window: its window procedure, start-up, and the shared operations
// through which every part of the program writes the status line and the
// progress bar and switches the settings.
#pragma once

#include <windows.h>

#include <cstdint>

namespace shardix {

// The controls that EnableSettings switches, in the order it switches them.
extern const int kSettingsGroup[15];

// Colour of a status text that begins with "Error".
constexpr COLORREF kErrorTextColor = RGB(255, 0, 0);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Start-up up to showing the main window. On failure shows the "Unable to
// run application." box and returns null.
HWND CreateMainWindow(HINSTANCE instance, int show);
// The message loop; returns the quit message's code.
int RunMessageLoop();
// CreateMainWindow and RunMessageLoop: the body of WinMain.
int RunApplication(HINSTANCE instance, int show);

// Control set-up, called once at start.
void InitFragmentSizeSlider(HWND window, int range_min, int range_max, int selection_start,
                            int selection_end_and_position);
void InitPlacementMethods(HWND window);
void SetFragmentCountRange(HWND window, int minimum, int maximum, int position);

// Shared operations on the main window of the application state. Each sends
// messages to the controls, so any thread may call them: the window thread
// carries them out.
void SetStatusText(const char* text);
void SetStatusError(const char* text);
void SetProgress(uint64_t position);
void EnableSettings(HWND window, bool enable);

// The "..." command. Returns whether a file was chosen.
bool BrowseForFile(HWND window);

}  // namespace shardix
