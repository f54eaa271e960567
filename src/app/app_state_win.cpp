#include "app/app_state_win.h"

namespace shardix {

AppState g_app;

namespace {

void DeleteBrush(HBRUSH* brush) {
  if (*brush == nullptr) return;
  if (!DeleteObject(*brush)) {
    // GDI sets no error code here; the debugger output is all there is to say.
    OutputDebugStringA("Shardix: DeleteObject failed on a cluster bar brush\n");
  }
  *brush = nullptr;
}

}  // namespace

void ReleaseAppResources() {
  DeleteBrush(&g_app.white_brush);
  DeleteBrush(&g_app.blue_brush);
  DeleteBrush(&g_app.red_brush);
  g_app.session.volume.reset();
  g_app.session.file.reset();
}

}  // namespace shardix
