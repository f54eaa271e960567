#include <windows.h>
#include <commctrl.h>

#include "job_test_support_win.h"

#include <gtest/gtest.h>

#include "app/window_text_win.h"
#include "display/text_util.h"
#include "resource.h"
#include "volume/error_codes.h"

namespace shardix::test {

// ---- Volumes -----------------------------------------------------------------

TestVolume::TestVolume(const std::string& name, uint64_t clusters) : name_(name) {
  MemoryVolume::Options options;
  options.cluster_count = clusters;
  volume_ = MemoryVolume::Create(options);
  RegisterMemoryVolume(name_, volume_);
}

TestVolume::~TestVolume() { UnregisterMemoryVolume(name_); }

std::vector<MemoryRun> SpreadRuns(int64_t count, int64_t length, int64_t first, int64_t gap) {
  std::vector<MemoryRun> runs;
  for (int64_t i = 0; i < count; ++i) runs.push_back({i * length, length, first + i * (length + gap)});
  return runs;
}

namespace {

class GatedFile : public VolumeFile {
 public:
  GatedFile(std::unique_ptr<VolumeFile> inner, MoveGate* gate) : inner_(std::move(inner)), gate_(gate) {}
  ~GatedFile() override { gate_->Record("file closed"); }
  uint32_t GetSize(uint64_t* size) override { return inner_->GetSize(size); }
  uint32_t GetRetrievalPointers(int64_t vcn, void* out, std::size_t size, std::size_t* returned) override {
    return inner_->GetRetrievalPointers(vcn, out, size, returned);
  }
  VolumeFile& inner() { return *inner_; }

 private:
  std::unique_ptr<VolumeFile> inner_;
  MoveGate* gate_;
};

class GatedVolume : public Volume {
 public:
  GatedVolume(std::unique_ptr<Volume> inner, MoveGate* gate) : inner_(std::move(inner)), gate_(gate) {}
  ~GatedVolume() override { gate_->Record("volume closed"); }
  uint32_t GetVolumeBitmap(int64_t lcn, void* out, std::size_t size, std::size_t* returned) override {
    return inner_->GetVolumeBitmap(lcn, out, size, returned);
  }
  uint32_t MoveClusters(VolumeFile& file, int64_t vcn, int64_t lcn, uint32_t count) override {
    gate_->Record("move");
    ++gate_->moves_begun_;
    WaitForSingleObject(gate_->open_event(), 20000);
    const uint32_t code = inner_->MoveClusters(static_cast<GatedFile&>(file).inner(), vcn, lcn, count);
    gate_->Record("moved");
    return code;
  }
  uint32_t GetGeometry(VolumeGeometry* geometry) override { return inner_->GetGeometry(geometry); }
  std::string DisplayName() const override { return inner_->DisplayName(); }

 private:
  std::unique_ptr<Volume> inner_;
  MoveGate* gate_;
};

class GatedProvider : public VolumeProvider {
 public:
  explicit GatedProvider(MoveGate* gate) : gate_(gate) {}
  uint32_t OpenFile(const std::string& path, std::unique_ptr<VolumeFile>* out) override {
    std::string inner_path;
    if (!Translate(path, &inner_path)) return kErrorNotSupported;
    std::unique_ptr<VolumeFile> inner;
    const uint32_t code = OpenFileByPath(inner_path, &inner);
    if (code == kErrorSuccess) *out = std::make_unique<GatedFile>(std::move(inner), gate_);
    return code;
  }
  uint32_t OpenVolume(const std::string& path, std::unique_ptr<Volume>* out) override {
    std::string inner_path;
    if (!Translate(path, &inner_path)) return kErrorNotSupported;
    std::unique_ptr<Volume> inner;
    const uint32_t code = OpenVolumeByPath(inner_path, &inner);
    if (code == kErrorSuccess) *out = std::make_unique<GatedVolume>(std::move(inner), gate_);
    return code;
  }

 private:
  static bool Translate(const std::string& path, std::string* inner) {
    if (path.rfind("gated:", 0) != 0) return false;
    *inner = kMemoryPathPrefix + path.substr(6);
    return true;
  }
  MoveGate* gate_;
};

}  // namespace

MoveGate::MoveGate() : open_event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  provider_ = std::make_shared<GatedProvider>(this);
  RegisterVolumeProvider(provider_);
}

MoveGate::~MoveGate() {
  UnregisterVolumeProvider(provider_.get());
  CloseHandle(open_event_);
}

void MoveGate::Open(bool open) {
  if (open)
    SetEvent(open_event_);
  else
    ResetEvent(open_event_);
}

bool MoveGate::WaitForMovesBegun(int count, DWORD timeout_ms) {
  return PumpUntil([&] { return moves_begun_.load() >= count; }, timeout_ms);
}

std::vector<std::string> MoveGate::Log() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return log_;
}

void MoveGate::Record(const std::string& what) {
  std::lock_guard<std::mutex> hold(mutex_);
  log_.push_back(what);
}

// ---- The main window ---------------------------------------------------------

namespace {

// Runs `steps` on the Volume Info dialog once its modal loop runs, then
// closes it with its Close button.
std::function<void(HWND)>* g_steps = nullptr;

BOOL CALLBACK FindVolumeInfo(HWND window, LPARAM found) {
  char caption[64] = "";
  GetWindowTextA(window, caption, sizeof caption);
  if (IsWindowVisible(window) && std::string(caption) == "Volume Info") {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK RunSteps(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindVolumeInfo, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr) return;  // not shown yet: the timer fires again
  KillTimer(nullptr, timer);
  (*g_steps)(dialog);
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_VOLUME_INFO_CLOSE, BN_CLICKED), 0);
}

}  // namespace

void OpenVolumeInfo(HWND window, std::function<void(HWND)> steps) {
  g_steps = &steps;
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, RunSteps);
  ASSERT_NE(timer, 0u);
  SendCommand(window, IDC_VOLUME_INFO);
  KillTimer(nullptr, timer);
  g_steps = nullptr;
}

void SendCommand(HWND window, int id) { SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

void Analyze(HWND window, const std::string& path) {
  SetDialogItemText(window, IDC_FILE_NAME, path);
  SendCommand(window, IDC_ANALYZE_FILE);
}

std::string Text(HWND window, int id) { return DialogItemText(window, id); }

bool Enabled(HWND window, int id) { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; }

std::vector<std::array<std::string, 3>> ListCells(HWND list) {
  std::vector<std::array<std::string, 3>> rows;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    std::array<std::string, 3> cells;
    for (int column = 0; column < 3; ++column) {
      char text[kTextBufferSize] = "";
      LVITEMA item = {};
      item.iSubItem = column;
      item.pszText = text;
      item.cchTextMax = sizeof text;
      SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
      cells[column] = text;
    }
    rows.push_back(cells);
  }
  return rows;
}

bool ExpectEveryLcnFullyVisible(HWND list) {
  const LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
  EXPECT_FALSE(style & WS_HSCROLL) << "a horizontal scroll bar hides the right-hand digits";
  RECT client;
  GetClientRect(list, &client);
  int widths = 0;
  for (int column = 0; column < 3; ++column) {
    widths += static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0));
  }
  EXPECT_LE(widths, client.right) << "the columns reach behind the scroll bar";
  const int lcn_width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0));
  for (const auto& row : ListCells(list)) {
    const auto text = static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(row[2].c_str())));
    EXPECT_GT(text, 0) << row[0];
    EXPECT_LE(text + 12, lcn_width) << "LCN of fragment " << row[0];
  }
  return (style & WS_VSCROLL) != 0;
}

void ClickColumn(HWND window, int id, int column) {
  NMLISTVIEW click = {};
  click.hdr.hwndFrom = GetDlgItem(window, id);
  click.hdr.idFrom = static_cast<UINT_PTR>(id);
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  click.iSubItem = column;
  SendMessageA(window, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&click));
}

bool StatusShownInRed(HWND window) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, RGB(1, 2, 3));
  SendMessageA(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_STATUS)));
  const COLORREF colour = GetTextColor(dc);
  DeleteDC(dc);
  return colour == RGB(255, 0, 0);
}

std::vector<COLORREF> BarPixels(HWND bar) {
  RECT client;
  GetClientRect(bar, &client);
  std::vector<COLORREF> pixels;
  HDC screen = GetDC(bar);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ old = SelectObject(dc, bitmap);
  // Black first, so a bar that paints nothing shows as black.
  RECT all = client;
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SendMessageA(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  for (int x = 0; x < client.right; ++x) pixels.push_back(GetPixel(dc, x, client.bottom / 2));
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(bar, screen);
  return pixels;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start > timeout_ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

}  // namespace shardix::test
