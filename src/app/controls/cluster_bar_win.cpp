// The cluster bars keep their runs: a subclass of the static control holds
// them and paints them in WM_PAINT (and WM_PRINTCLIENT).
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <new>
#include <vector>

#include "app/controls/cluster_bar_win.h"
#include "app/app_state_win.h"
#include "app/ui_services_win.h"

namespace shardix {
namespace {

constexpr UINT_PTR kBarSubclassId = 0x5348;  // any number of our own
// The bar's runs, also found through this property of the control.
constexpr char kBarRunsProperty[] = "ShardixBarRuns";

struct BarRun {
  int left;
  int right;
  BarColour colour;
};

// What a bar shows: its runs in drawing order, in pixels of a bar `width`
// wide. A bar resized since is painted scaled to its new width.
struct BarRuns {
  int width = 0;
  std::vector<BarRun> runs;
};

HBRUSH BrushOf(BarColour colour) {
  switch (colour) {
    case BarColour::kBlue: return g_app.blue_brush;
    case BarColour::kRed: return g_app.red_brush;
    case BarColour::kWhite: break;
  }
  return g_app.white_brush;
}

void FillSpan(HDC dc, int left, int right, int height, BarColour colour) {
  HBRUSH brush = BrushOf(colour);
  // A brush that start-up could not make was reported there; the stock
  // white one still keeps an emptied bar white.
  if (brush == nullptr && colour == BarColour::kWhite) brush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  if (brush == nullptr) return;
  RECT rect = {left, 0, right, height};
  FillRect(dc, &rect, brush);
}

int Scaled(int pixel, int from_width, int to_width) {
  if (from_width <= 0 || from_width == to_width) return pixel;
  return static_cast<int>(static_cast<long long>(pixel) * to_width / from_width);
}

void PaintRuns(HWND bar, HDC dc, const BarRuns& runs) {
  RECT client;
  if (!GetClientRect(bar, &client)) return;
  FillSpan(dc, 0, client.right, client.bottom, BarColour::kWhite);
  for (const BarRun& run : runs.runs) {
    const int left = Scaled(run.left, runs.width, client.right);
    int right = Scaled(run.right, runs.width, client.right);
    if (right <= left) right = left + 1;  // a run is never narrower than a pixel
    FillSpan(dc, left, right, client.bottom, run.colour);
  }
}

LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                         DWORD_PTR data) {
  auto* runs = reinterpret_cast<BarRuns*>(data);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(bar, &paint);
      if (dc != nullptr) {
        PaintRuns(bar, dc, *runs);
        EndPaint(bar, &paint);
      }
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintRuns(bar, reinterpret_cast<HDC>(wparam), *runs);
      return 0;
    case WM_NCDESTROY:
      RemoveWindowSubclass(bar, BarProc, id);
      RemovePropA(bar, kBarRunsProperty);
      delete runs;
      break;
    default:
      break;
  }
  return DefSubclassProc(bar, message, wparam, lparam);
}

// The bar's runs, subclassing the bar on first use; null after a failure
// that has been reported.
BarRuns* RunsOf(HWND bar) {
  if (auto* kept = static_cast<BarRuns*>(GetPropA(bar, kBarRunsProperty))) return kept;
  auto* runs = new (std::nothrow) BarRuns;
  if (runs == nullptr) {
    ReportSystemError(GetParent(bar), "Cluster bar Error", ERROR_NOT_ENOUGH_MEMORY, MB_ICONERROR);
    return nullptr;
  }
  if (!SetPropA(bar, kBarRunsProperty, runs)) {
    const DWORD code = GetLastError();
    delete runs;
    ReportSystemError(GetParent(bar), "SetProp() Error", code, MB_ICONERROR);
    return nullptr;
  }
  if (!SetWindowSubclass(bar, BarProc, kBarSubclassId, reinterpret_cast<DWORD_PTR>(runs))) {
    const DWORD code = GetLastError();
    RemovePropA(bar, kBarRunsProperty);
    delete runs;
    ReportSystemError(GetParent(bar), "SetWindowSubclass() Error", code != 0 ? code : ERROR_NOT_ENOUGH_MEMORY,
                      MB_ICONERROR);
    return nullptr;
  }
  return runs;
}

}  // namespace

int ClusterBarWidth(HWND bar) {
  RECT client;
  if (!GetClientRect(bar, &client)) {
    ReportSystemError(GetParent(bar), "GetClientRect() Error", GetLastError(), MB_ICONERROR);
    return 0;
  }
  return client.right;
}

void FillClusterBarSpan(HWND bar, int left, int right, BarColour colour) {
  BarRuns* runs = RunsOf(bar);
  if (runs == nullptr) return;
  const int width = ClusterBarWidth(bar);
  if (runs->width != width) {
    // Runs drawn at another width are kept as they would show at this one.
    for (BarRun& run : runs->runs) {
      run.left = Scaled(run.left, runs->width, width);
      run.right = std::max(Scaled(run.right, runs->width, width), run.left + 1);
    }
    runs->width = width;
  }
  if (colour == BarColour::kWhite && left <= 0 && right >= width) {
    runs->runs.clear();
  } else {
    try {
      runs->runs.push_back({left, right, colour});
    } catch (const std::bad_alloc&) {
      ReportSystemError(GetParent(bar), "Cluster bar Error", ERROR_NOT_ENOUGH_MEMORY, MB_ICONERROR);
      return;
    }
  }
  RECT rect = {left, 0, right, 0};
  RECT client;
  GetClientRect(bar, &client);
  rect.bottom = client.bottom;
  InvalidateRect(bar, &rect, FALSE);
}

}  // namespace shardix
