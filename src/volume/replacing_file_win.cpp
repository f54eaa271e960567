// ReplacingFile on Windows: a new file beside the target with a name no one
// else uses, FlushFileBuffers, then ReplaceFile (which keeps the target's
// attributes, security and streams) or MoveFileEx for a new name.
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "volume/error_codes.h"
#include "volume/replacing_file.h"
#include "volume/wide_text.h"

namespace shardix {

namespace {

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

uint32_t LastError() {
  const DWORD code = GetLastError();
  return code != 0 ? static_cast<uint32_t>(code) : static_cast<uint32_t>(kErrorGenFailure);
}

std::string FolderPrefixOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos) return path.substr(0, slash + 1);
  // "C:report.txt" names the drive's current folder.
  return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (slash == std::string::npos && name.size() >= 2 && name[1] == ':') name = name.substr(2);
  return name;
}

std::atomic<unsigned> g_serial{0};

}  // namespace

uint32_t ReplacingFile::Open(const std::string& path) {
  Restart(path);

  const DWORD attributes = GetFileAttributesW(WidePathForOpen(path).c_str());
  existed_ = attributes != INVALID_FILE_ATTRIBUTES;
  if (!existed_) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return error != 0 ? static_cast<uint32_t>(error) : static_cast<uint32_t>(kErrorGenFailure);
  }
  if (existed_ && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return kErrorAccessDenied;

  if (existed_) {
    // The target must be ours to write, as creating the file over it would require.
    HANDLE probe = CreateFileW(WidePathForOpen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return LastError();
    const DWORD type = GetFileType(probe);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool linked = GetFileInformationByHandle(probe, &info) && info.nNumberOfLinks > 1;
    regular_ = type == FILE_TYPE_DISK;
    if (!regular_ || linked || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      handle_ = probe;
      in_place_ = true;
      return kErrorSuccess;
    }
    ::CloseHandle(probe);
  }

  const std::string prefix = FolderPrefixOf(path) + "~" + NameOf(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%lu-%u-%lu.tmp",
                  static_cast<unsigned long>(GetCurrentProcessId()), g_serial.fetch_add(1),
                  static_cast<unsigned long>(GetTickCount()));
    const std::string candidate = prefix + suffix;
    HANDLE file = CreateFileW(WidePathForOpen(candidate).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = file;
      temporary_ = candidate;
      return kErrorSuccess;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    // A folder that takes no new files: the existing target is written in place.
    if (existed_ && error == ERROR_ACCESS_DENIED) {
      file = CreateFileW(WidePathForOpen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) return LastError();
      handle_ = file;
      in_place_ = true;
      return kErrorSuccess;
    }
    return error != 0 ? static_cast<uint32_t>(error) : static_cast<uint32_t>(kErrorGenFailure);
  }
  return kErrorAlreadyExists;
}

uint32_t ReplacingFile::WriteThrough(const char* at, std::size_t left) {
  while (left > 0) {
    const DWORD step = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD done = 0;
    if (!WriteFile(AsHandle(handle_), at, step, &done, nullptr)) return failure_ = LastError();
    if (done == 0) return failure_ = kErrorDiskFull;
    at += done;
    left -= done;
  }
  return kErrorSuccess;
}

uint32_t ReplacingFile::CloseHandle() {
  if (!handle_) return kErrorSuccess;
  const BOOL closed = ::CloseHandle(AsHandle(handle_));
  handle_ = nullptr;
  return closed ? kErrorSuccess : LastError();
}

uint32_t ReplacingFile::Commit() {
  if (failure_ == 0 && !handle_) failure_ = kErrorInvalidHandle;
  if (failure_ == 0) Drain();
  if (failure_ == 0 && in_place_ && regular_ && !SetEndOfFile(AsHandle(handle_)))
    failure_ = LastError();
  if (failure_ == 0 && regular_ && !FlushFileBuffers(AsHandle(handle_))) failure_ = LastError();
  if (const uint32_t code = CloseHandle(); failure_ == 0) failure_ = code;
  if (failure_ == 0 && !temporary_.empty()) {
    const BOOL moved =
        existed_ ? ReplaceFileW(WidePathForOpen(target_).c_str(), WidePathForOpen(temporary_).c_str(), nullptr,
                                REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                 : MoveFileExW(WidePathForOpen(temporary_).c_str(), WidePathForOpen(target_).c_str(), MOVEFILE_WRITE_THROUGH);
    if (moved) temporary_.clear();
    else failure_ = LastError();
  }
  const uint32_t result = failure_;
  Abandon();
  return result;
}

}  // namespace shardix
