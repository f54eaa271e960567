// A window file in the engine: two breaches.
#include <Windows.h>
#include "app/app_state_win.h"
#include "analysis/extent_scan.h"
