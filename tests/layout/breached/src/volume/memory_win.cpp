// A backend's *_win file may include <windows.h>.
#include <windows.h>
