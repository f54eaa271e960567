#include "app/window_display_win.h"

#include <commctrl.h>

#include <exception>

#include "app/controls/cluster_bar_win.h"
#include "app/controls/fragment_list_win.h"
#include "app/main_window_win.h"
#include "app/ui_services_win.h"
#include "app/jobs/status_animator_win.h"
#include "app/window_text_win.h"
#include "resource.h"

namespace shardix {
namespace {

// What kRunOnWindowThreadMessage carries.
struct WindowThreadCall {
  const std::function<void()>* call;
  bool ran = false;
  std::exception_ptr failure;
};

int TextControlId(TextField field) {
  switch (field) {
    case TextField::kFileName: return IDC_FILE_NAME_VALUE;
    case TextField::kFileSize: return IDC_FILE_SIZE_VALUE;
    case TextField::kPercentBefore: return IDC_PERCENT_BEFORE;
    case TextField::kPercentAfter: return IDC_PERCENT_AFTER;
    case TextField::kMaxValue: return IDC_MAX_VALUE;
  }
  return 0;
}

// Rows a worker sends to the window thread in one message.
constexpr std::size_t kRowBatch = 4096;

bool OnThreadOf(HWND window) {
  return window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

int BarControlId(ClusterBar bar) { return bar == ClusterBar::kBefore ? IDC_BEFORE_BAR : IDC_AFTER_BAR; }

UINT IconFlag(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kError: return MB_ICONERROR;
    case BoxIcon::kWarning: return MB_ICONWARNING;
    case BoxIcon::kInformation: return MB_ICONINFORMATION;
    case BoxIcon::kNone: break;
  }
  return 0;
}

}  // namespace

bool RunOnWindowThread(HWND window, const std::function<void()>& call) {
  if (window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    call();
    return true;
  }
  WindowThreadCall message{&call, false, nullptr};
  SendMessageA(window, kRunOnWindowThreadMessage, 0, reinterpret_cast<LPARAM>(&message));
  if (message.failure) std::rethrow_exception(message.failure);
  return message.ran;
}

LRESULT RunWindowThreadCall(LPARAM lparam) {
  auto* message = reinterpret_cast<WindowThreadCall*>(lparam);
  if (message == nullptr || message->call == nullptr) return 0;
  // No exception may unwind through the window system's frames: it goes
  // back to the sending thread instead.
  try {
    (*message->call)();
    message->ran = true;
  } catch (...) {
    message->failure = std::current_exception();
  }
  return 1;
}

int CommandControlId(Command command) {
  switch (command) {
    case Command::kFragment: return IDC_FRAGMENT;
    case Command::kDefragment: return IDC_DEFRAGMENT;
    case Command::kVolumeInfo: return IDC_VOLUME_INFO;
    case Command::kAnalyzeFile: return IDC_ANALYZE_FILE;
    case Command::kBrowse: return IDC_BROWSE;
    case Command::kFileName: return IDC_FILE_NAME;
  }
  return 0;
}

WindowDisplay::~WindowDisplay() {
  try {
    SendHeldRows();
  } catch (...) {
    // Shown as far as memory allowed; a destructor throws nothing.
  }
}

void WindowDisplay::OnWindowThread(const std::function<void()>& call) {
  SendHeldRows();
  RunOnWindowThread(window_, call);
}

void WindowDisplay::SendHeldRows() {
  if (held_rows_.empty()) return;
  std::vector<FragmentRow> rows;
  rows.swap(held_rows_);
  RunOnWindowThread(window_, [&] {
    for (const FragmentRow& row : rows) AddFragmentListRow(window_, row);
  });
}

void WindowDisplay::SetStatusText(const std::string& text) {
  OnWindowThread([&] { SetDialogItemText(window_, IDC_STATUS, text); });
}

void WindowDisplay::SetProgressRange(uint32_t maximum) {
  OnWindowThread([&] {
    SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETRANGE32, 0, static_cast<LPARAM>(static_cast<int32_t>(maximum)));
  });
}

void WindowDisplay::SetProgress(uint64_t position) {
  OnWindowThread([&] {
    SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(static_cast<uint32_t>(position)), 0);
  });
}

void WindowDisplay::SetText(TextField field, const std::string& text) {
  OnWindowThread([&] {
    // At most 511 characters, as the program's text buffers hold.
    SetDialogItemText(window_, TextControlId(field), text);
  });
}

void WindowDisplay::ClearFragmentList() {
  OnWindowThread([&] { ClearFragmentRows(window_); });
}

void WindowDisplay::AddFragmentRow(const FragmentRow& row) {
  if (OnThreadOf(window_)) {
    OnWindowThread([&] { AddFragmentListRow(window_, row); });
    return;
  }
  held_rows_.push_back(row);
  if (held_rows_.size() >= kRowBatch) SendHeldRows();
}

std::size_t WindowDisplay::FragmentRowCount() {
  std::size_t count = 0;
  OnWindowThread([&] { count = FragmentListRowCount(window_); });
  return count;
}

FragmentRow WindowDisplay::GetFragmentRow(std::size_t index) {
  FragmentRow row{0, 0, 0};
  OnWindowThread([&] { row = FragmentListRowAt(window_, index); });
  return row;
}

void WindowDisplay::FitFragmentListColumns() {
  OnWindowThread([&] { shardix::FitFragmentListColumns(window_); });
}

int WindowDisplay::BarWidth(ClusterBar bar) {
  int width = 0;
  OnWindowThread([&] { width = ClusterBarWidth(GetDlgItem(window_, BarControlId(bar))); });
  return width;
}

void WindowDisplay::FillBar(ClusterBar bar, int left, int right, BarColour colour) {
  OnWindowThread([&] { FillClusterBarSpan(GetDlgItem(window_, BarControlId(bar)), left, right, colour); });
}

void WindowDisplay::EnableSettings(bool enable) {
  OnWindowThread([&] { shardix::EnableSettings(window_, enable); });
}

void WindowDisplay::EnableCommand(Command command, bool enable) {
  OnWindowThread([&] { EnableWindow(GetDlgItem(window_, CommandControlId(command)), enable ? TRUE : FALSE); });
}

void WindowDisplay::SetFragmentCountRange(int32_t minimum, int32_t maximum, int32_t position) {
  OnWindowThread([&] { shardix::SetFragmentCountRange(window_, minimum, maximum, position); });
}

void WindowDisplay::ShowErrorBox(const std::string& caption, uint32_t code, BoxOwner owner, BoxIcon icon) {
  OnWindowThread([&] {
    HWND owner_window = nullptr;
    if (owner == BoxOwner::kMainWindow) owner_window = window_;
    if (owner == BoxOwner::kDialog) owner_window = dialog_ != nullptr ? dialog_ : window_;
    ReportSystemError(owner_window, caption.c_str(), code, IconFlag(icon));
  });
}

void WindowDisplay::MoveBegins() {
  SendHeldRows();
  OpenStatusAnimatorGate(window_);
}

void WindowDisplay::MoveEnds() {
  SendHeldRows();
  CloseStatusAnimatorGate(window_);
}

}  // namespace shardix
