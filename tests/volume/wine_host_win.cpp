#include "tests/volume/wine_host.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>

namespace shardix::test::wine_host {
namespace {

// Wine's own exports of kernel32 for path conversion.
using ToUnix = char*(CDECL*)(const WCHAR*);
using ToDos = WCHAR*(CDECL*)(const char*);

ToUnix UnixConverter() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel ? reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "wine_get_unix_file_name"))) : nullptr;
}

ToDos DosConverter() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel ? reinterpret_cast<ToDos>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "wine_get_dos_file_name"))) : nullptr;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr,
                      nullptr);
  return text;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

}  // namespace

bool Available(std::string* why) {
  if (UnixConverter() && DosConverter()) return true;
  if (why) *why = "not running under Wine: the ntfs-3g tools these tests compare against are Linux programs";
  return false;
}

std::string UnixPath(const std::string& windows_path) {
  ToUnix convert = UnixConverter();
  if (!convert) return std::string();
  char* unix_path = convert(Wide(windows_path).c_str());
  if (!unix_path) return std::string();
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

std::string WindowsPath(const std::string& unix_path) {
  ToDos convert = DosConverter();
  if (!convert) return std::string();
  WCHAR* dos_path = convert(unix_path.c_str());
  if (!dos_path) return std::string();
  std::string result = Narrow(dos_path);
  HeapFree(GetProcessHeap(), 0, dos_path);
  return result;
}

Job::~Job() {
  if (dir_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(dir_), ignored);
}

bool Job::Start(const std::string& script) {
  if (!Available(&error_)) return false;
  static std::atomic<unsigned> counter{0};
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) {
    error_ = "no temporary folder: " + error.message();
    return false;
  }
  for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
    const std::filesystem::path dir =
        base / ("shardix-host-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(dir, error)) dir_ = dir.string();
  }
  if (dir_.empty()) {
    error_ = "could not make a job folder under " + base.string();
    return false;
  }
  const std::string unix_dir = UnixPath(dir_);
  const std::string shell = WindowsPath("/bin/sh");
  if (unix_dir.empty() || shell.empty()) {
    error_ = "Wine gave no Linux path for " + dir_ + " or no Windows path for /bin/sh";
    return false;
  }
  // The wrapper lets go of every inherited standard handle at once, so a
  // background job never holds the test's output pipe open.
  const std::string wrapper =
      "exec </dev/null >/dev/null 2>&1\n"
      "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\n"
      "SHARDIX_JOB_DIR=" + Quoted(unix_dir) + "\n"
      "export PATH SHARDIX_JOB_DIR\n"
      "cd \"$SHARDIX_JOB_DIR\" || exit 1\n"
      "/bin/sh ./job.sh >output 2>errors\n"
      "echo $? >status.new\n"
      "mv status.new status\n";
  const std::filesystem::path dir = std::filesystem::path(dir_);
  if (!WriteText(dir / "job.sh", script) || !WriteText(dir / "wrapper.sh", wrapper)) {
    error_ = "could not write the job's scripts in " + dir_;
    return false;
  }
  std::wstring command = Wide("/bin/sh \"" + unix_dir + "/wrapper.sh\"");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(Wide(shell).c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    error_ = "Wine could not start /bin/sh (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool Job::HasMarker(const std::string& name) const {
  std::error_code ignored;
  return !dir_.empty() && std::filesystem::exists(std::filesystem::path(dir_) / name, ignored);
}

bool Job::Ended() const { return HasMarker("status"); }

int Job::Wait(double timeout_seconds) {
  if (dir_.empty()) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
  int polls = 0;
  while (!Ended()) {
    if (std::chrono::steady_clock::now() > deadline) {
      error_ = "the job in " + dir_ + " did not end within " + std::to_string(timeout_seconds) + " s";
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(++polls < 50 ? 2 : 10));
  }
  std::ifstream status(std::filesystem::path(dir_) / "status");
  int code = -1;
  if (!(status >> code)) {
    error_ = "the job in " + dir_ + " left an unreadable status";
    return -1;
  }
  return code;
}

std::string Job::Output() const {
  std::ifstream in(std::filesystem::path(dir_) / "output", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Run(const std::string& command, std::string* out) {
  Job job;
  if (!job.Start(command + "\n")) return -1;
  const int status = job.Wait(600);
  if (out) *out = job.Output();
  return status;
}

}  // namespace shardix::test::wine_host
