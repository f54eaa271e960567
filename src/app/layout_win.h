// The main window's layout on resize: the fragment list stretches with the
// window's height and the controls below it keep their distance to the
// bottom edge. OnSize and OnGetMinMaxInfo are declared in commands_win.h.
#pragma once

#include <windows.h>

namespace shardix {

// Distances from the client area's bottom to a control's top, in vertical
// dialog units of the main window.
constexpr int kBottomButtonsDistance = 25;   // Help, About, Close
constexpr int kStatusLineDistance = 35;      // status line
constexpr int kProgressBarDistance = 55;     // progress bar
constexpr int kCommandButtonsDistance = 75;  // Analyze File, Volume Info, Fragment, Defragment
// The fragment list is the client height less this many units high.
constexpr int kFragmentListSpare = 293;

// Moves `control` so that its top lies `distance` dialog units above the
// bottom of its parent's client area of `client_height` pixels, keeping its
// left edge and its outer size. Returns false (after tracing the system's
// message) when a call fails.
bool AnchorToBottom(HWND control, int distance, int client_height, bool repaint);

// `units` vertical dialog units of `window` in pixels.
int DialogUnitsToPixelsY(HWND window, int units);

}  // namespace shardix
