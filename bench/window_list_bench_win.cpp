// The window's two long lists, timed under Wine (or on Windows): the main
// window's fragment list filled by Analyze File with 100 000 fragments, and
// the Volume Info dialog's allocation list with 1 000 000 runs, each with
// its first paint and a sort by column click. Prints the times; no test.
//   wine build/windows/bench/window_list_bench.exe [FRAGMENTS [RUNS]]
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state_win.h"
#include "app/commands_win.h"
#include "app/main_window_win.h"
#include "app/window_display_win.h"
#include "resource.h"
#include "volume/memory/memory_volume.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void ClickColumn(HWND parent, HWND list, int id, int column) {
  NMLISTVIEW click = {};
  click.hdr.hwndFrom = list;
  click.hdr.idFrom = static_cast<UINT_PTR>(id);
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  click.iSubItem = column;
  SendMessageA(parent, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&click));
}

// A file of `count` one-cluster fragments with a free cluster between them:
// `count` fragment rows, and 2 * `count` allocation runs on its volume.
std::shared_ptr<shardix::MemoryVolume> MakeVolume(const std::string& name, int64_t count) {
  shardix::MemoryVolume::Options options;
  options.cluster_count = static_cast<uint64_t>(2 * count + 16);
  options.track_data = false;
  auto volume = shardix::MemoryVolume::Create(options);
  std::vector<shardix::MemoryRun> runs;
  runs.reserve(static_cast<std::size_t>(count));
  for (int64_t i = 0; i < count; ++i) runs.push_back({i, 1, 2 * i + 1});
  if (volume->AddFile("many.bin", static_cast<uint64_t>(count) * 4096, runs) != 0) return nullptr;
  shardix::RegisterMemoryVolume(name, volume);
  return volume;
}

int64_t ListCount(HWND list) { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); }

// The list alone: its rows through the window's display, as the engine
// adds them, until the list shows them with its columns fitted. From the
// window thread (Analyze File) or from a worker (the rescan after a job).
void FillThroughDisplay(HWND window, int64_t fragments) {
  shardix::WindowDisplay display(window);
  display.ClearFragmentList();
  for (int64_t i = 0; i < fragments; ++i) {
    display.AddFragmentRow({static_cast<uint64_t>(i + 1), 1, static_cast<uint64_t>(2 * i + 1)});
  }
  display.FitFragmentListColumns();
}

void TimeFragmentRows(HWND window, int64_t fragments) {
  const auto start = Clock::now();
  FillThroughDisplay(window, fragments);
  const auto listed = Clock::now();
  UpdateWindow(window);
  const auto painted = Clock::now();
  std::atomic<bool> done{false};
  std::thread worker([&] {
    FillThroughDisplay(window, fragments);
    done = true;
  });
  while (!done) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Pump();
  }
  worker.join();
  const auto from_worker = Clock::now();
  std::printf("fragment list alone, %lld rows: fill %.3f s, first paint %.3f s; from a worker thread %.3f s\n",
              static_cast<long long>(fragments), Seconds(start, listed), Seconds(listed, painted),
              Seconds(painted, from_worker));
}

// Times Analyze File on the file of `fragments` fragments: the scan, the
// list, the cluster bar and the figures.
bool TimeFragmentList(HWND window, int64_t fragments) {
  if (!MakeVolume("list", fragments)) return false;
  HWND list = GetDlgItem(window, IDC_FRAGMENT_LIST);
  SetDlgItemTextA(window, IDC_FILE_NAME, (std::string(shardix::kMemoryPathPrefix) + "list/many.bin").c_str());
  const auto start = Clock::now();
  shardix::AnalyzeFile(window);
  const auto listed = Clock::now();
  UpdateWindow(window);
  const auto painted = Clock::now();
  ClickColumn(window, list, IDC_FRAGMENT_LIST, 2);
  UpdateWindow(window);
  const auto sorted = Clock::now();
  SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(fragments - 1), FALSE);
  UpdateWindow(window);
  const auto scrolled = Clock::now();
  std::printf("fragment list, %lld rows (list shows %lld): Analyze File %.3f s, first paint %.3f s, "
              "sort %.3f s, scroll to the end %.3f s\n",
              static_cast<long long>(fragments), static_cast<long long>(ListCount(list)), Seconds(start, listed),
              Seconds(listed, painted), Seconds(painted, sorted), Seconds(sorted, scrolled));
  return ListCount(list) == fragments;
}

// The Volume Info dialog is modal: it is timed from the command to its
// first idle moment, when it has analysed the volume and filled its lists.
struct DialogTiming {
  Clock::time_point start;
  bool done = false;
  int64_t rows = 0;
};
DialogTiming g_timing;
WNDPROC g_main_proc = nullptr;

LRESULT CALLBACK TimingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ENTERIDLE && wparam == MSGF_DIALOGBOX && !g_timing.done) {
    g_timing.done = true;
    const auto idle = Clock::now();
    HWND dialog = reinterpret_cast<HWND>(lparam);
    HWND list = GetDlgItem(dialog, IDC_ALLOCATION_LIST);
    g_timing.rows = ListCount(list);
    UpdateWindow(dialog);
    const auto painted = Clock::now();
    ClickColumn(dialog, list, IDC_ALLOCATION_LIST, 1);
    UpdateWindow(dialog);
    const auto sorted = Clock::now();
    std::printf("allocation list, %lld runs: open and fill %.3f s, first paint %.3f s, sort %.3f s\n",
                static_cast<long long>(g_timing.rows), Seconds(g_timing.start, idle), Seconds(idle, painted),
                Seconds(painted, sorted));
    PostMessageA(dialog, WM_COMMAND, IDC_VOLUME_INFO_CLOSE, 0);
  }
  return CallWindowProcA(g_main_proc, window, message, wparam, lparam);
}

bool TimeAllocationList(HWND window, int64_t runs) {
  // Analyze File opens the volume that Volume Info reports.
  if (!MakeVolume("info", runs / 2)) return false;
  SetDlgItemTextA(window, IDC_FILE_NAME, (std::string(shardix::kMemoryPathPrefix) + "info/many.bin").c_str());
  shardix::AnalyzeFile(window);
  g_main_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TimingProc)));
  g_timing.start = Clock::now();
  shardix::ShowVolumeInfo(window);
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_main_proc));
  return g_timing.done && g_timing.rows >= runs;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t fragments = argc > 1 ? std::atoll(argv[1]) : 100000;
  const int64_t runs = argc > 2 ? std::atoll(argv[2]) : 1000000;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  HWND window = shardix::CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNOACTIVATE);
  if (window == nullptr) {
    std::fprintf(stderr, "window_list_bench: the main window was not created (error %lu)\n", GetLastError());
    return 1;
  }
  Pump();
  TimeFragmentRows(window, fragments);
  const bool listed = TimeFragmentList(window, fragments);
  const bool reported = TimeAllocationList(window, runs);
  DestroyWindow(window);
  Pump();
  if (!listed || !reported) {
    std::fprintf(stderr, "window_list_bench: a list did not get its rows\n");
    return 1;
  }
  return 0;
}
