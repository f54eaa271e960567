// The application state: the process-wide values of the Win32 program, owned
// by the window thread. Worker threads read the handles and the main window
// and change controls only through window messages.
#pragma once

#include <windows.h>

#include <memory>

#include "app/text_util.h"
#include "volume/volume.h"

namespace shardix {

struct AppState {
  HINSTANCE instance = nullptr;
  HWND main_window = nullptr;

  // Fill colours of the cluster bars.
  HBRUSH white_brush = nullptr;
  HBRUSH blue_brush = nullptr;
  HBRUSH red_brush = nullptr;

  // The analysed file and its volume; empty until Analyze File opens them.
  std::unique_ptr<Volume> volume;
  std::unique_ptr<VolumeFile> file;
  char analysed_path[kTextBufferSize] = {};

  // Sort state of the fragment list: last column clicked, and its order.
  int sort_column = 0;
  bool sort_ascending = true;
};

extern AppState g_app;

// Deletes the brushes that exist, then closes the volume, then the file.
void ReleaseAppResources();

}  // namespace shardix
