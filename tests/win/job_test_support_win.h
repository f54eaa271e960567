// Support for the window tests of Analyze File, the jobs and Volume Info:
// simulated volumes reached by path, a volume whose moves wait for the test,
// and readers of what the main window shows.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "volume/memory/memory_volume.h"
#include "volume/volume.h"

namespace shardix::test {

// A memory volume registered as "memory:NAME" for the object's life.
class TestVolume {
 public:
  explicit TestVolume(const std::string& name, uint64_t clusters = 20000);
  ~TestVolume();
  TestVolume(const TestVolume&) = delete;
  TestVolume& operator=(const TestVolume&) = delete;

  std::string Path(const std::string& file) const { return std::string(kMemoryPathPrefix) + name_ + "/" + file; }
  MemoryVolume& operator*() const { return *volume_; }
  MemoryVolume* operator->() const { return volume_.get(); }
  const std::shared_ptr<MemoryVolume>& shared() const { return volume_; }

 private:
  std::string name_;
  std::shared_ptr<MemoryVolume> volume_;
};

// A file of `count` fragments of `length` clusters, `gap` clusters apart
// from LCN `first`.
std::vector<MemoryRun> SpreadRuns(int64_t count, int64_t length, int64_t first, int64_t gap);

// Paths "gated:NAME/file" reach the memory volume registered as NAME, but
// every cluster move waits until the test lets it through. The log records
// moves and closes in the order they happen.
class MoveGate {
 public:
  MoveGate();
  ~MoveGate();
  MoveGate(const MoveGate&) = delete;
  MoveGate& operator=(const MoveGate&) = delete;

  // Lets moves through from now on (true) or holds each one (false).
  void Open(bool open);
  // Waits until `count` moves have begun (or the timeout has passed, while
  // carrying out this thread's messages).
  bool WaitForMovesBegun(int count, DWORD timeout_ms);
  int moves_begun() const { return moves_begun_.load(); }

  std::vector<std::string> Log() const;
  void Record(const std::string& what);

  static std::string PathOf(const std::string& volume_name, const std::string& file) {
    return "gated:" + volume_name + "/" + file;
  }

  HANDLE open_event() const { return open_event_; }
  std::atomic<int> moves_begun_{0};

 private:
  std::shared_ptr<VolumeProvider> provider_;
  HANDLE open_event_;
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
};

// The main window's commands and readers.
void Analyze(HWND window, const std::string& path);
void SendCommand(HWND window, int id);
std::string Text(HWND window, int id);
bool Enabled(HWND window, int id);
// The list's cells, row by row, in the displayed order.
std::vector<std::array<std::string, 3>> ListCells(HWND list);
// Fails the test unless every cell of the fragment list's last column shows
// whole: no horizontal scroll bar, the columns within the list's client
// area (which leaves out a vertical scroll bar), each LCN's text within its
// column. Returns whether the list shows a vertical scroll bar.
bool ExpectEveryLcnFullyVisible(HWND list);
// Opens the Volume Info dialog from the main window, runs `steps` on it
// once its modal loop runs, then closes it with its Close button.
void OpenVolumeInfo(HWND window, std::function<void(HWND)> steps);
// Sends the window a click on column `column` of the list control `id`.
void ClickColumn(HWND window, int id, int column);
// Whether the main window colours the status line red now.
bool StatusShownInRed(HWND window);
// The bar's pixels along its middle row, as the control paints itself.
std::vector<COLORREF> BarPixels(HWND bar);
// Carries out this thread's messages until `done` holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms);

}  // namespace shardix::test
