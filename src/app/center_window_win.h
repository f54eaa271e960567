// Places a dialog over the centre of its parent window, kept on the screen.
// Used by the About box and the Volume Info dialog.
#pragma once

#include <windows.h>

namespace shardix {

// Where a window of outer rectangle `window` goes to sit over the centre of
// `parent` (both in screen coordinates) within `screen`: centred, then moved
// back inside the screen's right and bottom edges, then inside its left and
// top edges, so a window larger than the screen keeps its caption visible.
POINT CenteredPosition(const RECT& window, const RECT& parent, const RECT& screen);

// Moves `window` over the centre of `parent`, keeping its size and Z order,
// within the work area of the monitor that shows most of the parent. A
// failing call is reported in a box owned by `window`; returns false then.
bool CenterWindowOnParent(HWND window, HWND parent);

}  // namespace shardix
