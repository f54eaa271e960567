// Entry point of Shardix.exe; the program itself lives in shardix_app, which
// the test programs link as well.
#include <windows.h>

#include "app/main_window_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/, int show) {
  return shardix::RunApplication(instance, show);
}
