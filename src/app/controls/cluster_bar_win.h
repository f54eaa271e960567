// The cluster bars (Before 1030, After 1031): static controls whose width
// stands for the whole volume. Each bar keeps the runs drawn on it and
// paints them again whenever it is repainted, so a bar that was covered,
// uncovered or resized still shows the file.
#pragma once

#include <windows.h>

#include "display/display.h"

namespace shardix {

// Fills the pixels [left, right) of the bar's client area, over its full
// height, in `colour`, and keeps the run for later repaints. A white fill
// of the whole width clears the kept runs. The fill shows at the bar's
// next paint (the window thread paints it as soon as it is idle).
void FillClusterBarSpan(HWND bar, int left, int right, BarColour colour);

// The bar's client width in pixels: the width that stands for the volume.
int ClusterBarWidth(HWND bar);

}  // namespace shardix
