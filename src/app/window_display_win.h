// The main window's display: what the engine shows goes to the window's
// controls. Every operation runs on the window's own thread; called from a
// worker thread, it hands the work to that thread and waits until it is
// done, so workers never touch a control themselves.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "display/display.h"

namespace shardix {

// The main window's private message: lParam points at a call to run on the
// window thread (see RunOnWindowThread).
constexpr UINT kRunOnWindowThreadMessage = WM_APP + 1;

// Runs `call` on the thread that owns `window`: at once when that is this
// thread, otherwise by sending the window kRunOnWindowThreadMessage, which
// returns once the call has run. An exception of the call is thrown again
// here. Returns false when the window is gone and the call did not run.
bool RunOnWindowThread(HWND window, const std::function<void()>& call);

// MainWndProc's answer to kRunOnWindowThreadMessage.
LRESULT RunWindowThreadCall(LPARAM lparam);

class WindowDisplay : public Display {
 public:
  // `window` is the main window. Boxes owned by "the dialog" go to
  // `dialog` when given, else to the main window.
  explicit WindowDisplay(HWND window, HWND dialog = nullptr) : window_(window), dialog_(dialog) {}
  ~WindowDisplay() override;
  WindowDisplay(const WindowDisplay&) = delete;
  WindowDisplay& operator=(const WindowDisplay&) = delete;

  void SetStatusText(const std::string& text) override;
  void SetProgressRange(uint32_t maximum) override;
  void SetProgress(uint64_t position) override;
  void SetText(TextField field, const std::string& text) override;

  void ClearFragmentList() override;
  void AddFragmentRow(const FragmentRow& row) override;
  std::size_t FragmentRowCount() override;
  FragmentRow GetFragmentRow(std::size_t index) override;
  void FitFragmentListColumns() override;

  int BarWidth(ClusterBar bar) override;
  void FillBar(ClusterBar bar, int left, int right, BarColour colour) override;

  void EnableSettings(bool enable) override;
  void EnableCommand(Command command, bool enable) override;
  void SetFragmentCountRange(int32_t minimum, int32_t maximum, int32_t position) override;

  void ShowErrorBox(const std::string& caption, uint32_t code, BoxOwner owner,
                    BoxIcon icon) override;

  // Open and close the status animator's gate; these only set an event, so
  // they run on the calling thread (after the rows held back, see below).
  void MoveBegins() override;
  void MoveEnds() override;

 protected:
  // Runs `call` on the window thread (see RunOnWindowThread) after the rows
  // held back; when the window is gone the call is dropped.
  void OnWindowThread(const std::function<void()>& call);

  HWND window() const { return window_; }
  HWND dialog() const { return dialog_; }

 private:
  // A worker's fragment rows go to the window thread in batches: one
  // message per row costs far more than the row itself (some 0.4 ms under
  // Wine). They are held back until the batch is full, and until anything
  // else is shown, so everything still shows in the order it was asked for.
  void SendHeldRows();

  HWND window_;
  HWND dialog_;
  std::vector<FragmentRow> held_rows_;
};

// The control id of a command that the engine enables on its own.
int CommandControlId(Command command);

}  // namespace shardix
