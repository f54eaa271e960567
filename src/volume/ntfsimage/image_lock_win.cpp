#include "volume/ntfsimage/image_lock.h"

#include <windows.h>

#include "volume/error_codes.h"
#include "volume/wide_text.h"

namespace shardix::ntfsimage {

namespace {

// The locked byte: 2^62, far beyond any image, below every limit.
constexpr DWORD kLockOffsetHigh = 0x40000000;

struct HeldLock {
  HANDLE file = INVALID_HANDLE_VALUE;
  ~HeldLock() {
    if (file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED where{};
    where.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(file, 0, 1, 0, &where);
    CloseHandle(file);
  }
};

}  // namespace

uint32_t LockImage(const std::string& path, bool for_writing, std::shared_ptr<void>* lock) {
  lock->reset();
  auto held = std::make_shared<HeldLock>();
  held->file = CreateFileW(WidePathForOpen(path).c_str(), GENERIC_READ | (for_writing ? GENERIC_WRITE : 0),
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held->file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION ? kErrorSharingViolation : static_cast<uint32_t>(error);
  }
  OVERLAPPED where{};
  where.OffsetHigh = kLockOffsetHigh;
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (for_writing ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (!LockFileEx(held->file, flags, 0, 1, 0, &where)) {
    const DWORD error = GetLastError();
    CloseHandle(held->file);
    held->file = INVALID_HANDLE_VALUE;
    return error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION ? kErrorSharingViolation
                                                                             : static_cast<uint32_t>(error);
  }
  *lock = std::move(held);
  return kErrorSuccess;
}

}  // namespace shardix::ntfsimage
