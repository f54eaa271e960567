#include "volume/system_error.h"

#include <cerrno>
#include <cstring>

#include "volume/error_codes.h"

namespace shardix {

namespace {

struct RefusalText {
  uint32_t code;
  const char* name;
  const char* text;  // null: OwnErrorMessage's
};

// Outside Windows the numbers below were never a system's: they are how
// the image backend refuses, and are said as this program's own.
constexpr RefusalText kRefusals[] = {
    {kErrorNotImageFile, "not-an-image", nullptr},
    {kErrorVolumeMapDisagrees, "volume-map-disagrees", nullptr},
    {kErrorInterruptedChange, "interrupted-change", nullptr},
    {kErrorJournalKeptAside, "journal-kept-aside", nullptr},
    {kErrorNotInsideImage, "not-inside-image", nullptr},
#ifndef _WIN32
    {kErrorUnrecognizedVolume, "not-ntfs", "The image or device holds no NTFS file system"},
    {kErrorSharingViolation, "volume-in-use",
     "The image is in use by another program (mounted, or locked for writing); unmount it or end "
     "that program, then try again"},
    {kErrorVolumeDirty, "volume-dirty", nullptr},
    {kErrorDiskCorrupt, "volume-corrupt", "The volume's structures are corrupted and unreadable"},
    {kErrorFileCorrupt, "file-corrupt", "The file's record or runs are corrupted and unreadable"},
    {kErrorFileInvalid, "volume-changed", "The image was changed by something else while open"},
    {kErrorNotSupported, "not-supported", "Not supported for this path"},
    {kErrorWriteProtect, "read-only", "The image can only be read"},
#endif
};

const RefusalText* FindRefusal(uint32_t code) {
  for (const RefusalText& refusal : kRefusals)
    if (refusal.code == code) return &refusal;
  return nullptr;
}

class Refusals : public std::error_category {
 public:
  const char* name() const noexcept override { return "shardix"; }
  std::string message(int value) const override {
    const uint32_t code = static_cast<uint32_t>(value);
    const RefusalText* refusal = FindRefusal(code);
    if (refusal && refusal->text) return refusal->text;
    return ErrorMessage(code);
  }
};

class WindowsNumbers : public std::error_category {
 public:
  const char* name() const noexcept override { return "win32"; }
  std::string message(int value) const override {
    return ErrorMessage(static_cast<uint32_t>(value));
  }
};

#ifndef _WIN32
// The errno that says the same as a Windows number, or 0.
int ErrnoFor(uint32_t code) {
  switch (code) {
    case kErrorFileNotFound:
    case kErrorPathNotFound: return ENOENT;
    case kErrorTooManyOpenFiles: return EMFILE;
    case kErrorAccessDenied: return EACCES;
    case kErrorInvalidHandle: return EBADF;
    case kErrorNotEnoughMemory:
    case kErrorOutOfMemory: return ENOMEM;
    case kErrorHandleDiskFull:
    case kErrorDiskFull: return ENOSPC;
    case kErrorInvalidParameter: return EINVAL;
    case kErrorInvalidName: return ENAMETOOLONG;
    case kErrorAlreadyExists: return EEXIST;
    case kErrorDirectoryNotSupported: return EISDIR;
    case kErrorReadFault:
    case kErrorWriteFault:
    case kErrorIoDevice: return EIO;
    default: return 0;
  }
}
#else
constexpr struct {
  uint32_t code;
  const char* name;
} kWindowsNames[] = {
    {kErrorFileNotFound, "ERROR_FILE_NOT_FOUND"},
    {kErrorPathNotFound, "ERROR_PATH_NOT_FOUND"},
    {kErrorAccessDenied, "ERROR_ACCESS_DENIED"},
    {kErrorNotEnoughMemory, "ERROR_NOT_ENOUGH_MEMORY"},
    {kErrorWriteProtect, "ERROR_WRITE_PROTECT"},
    {kErrorSharingViolation, "ERROR_SHARING_VIOLATION"},
    {kErrorLockViolation, "ERROR_LOCK_VIOLATION"},
    {kErrorNotSupported, "ERROR_NOT_SUPPORTED"},
    {kErrorInvalidParameter, "ERROR_INVALID_PARAMETER"},
    {kErrorDiskFull, "ERROR_DISK_FULL"},
    {kErrorInvalidName, "ERROR_INVALID_NAME"},
    {kErrorAlreadyExists, "ERROR_ALREADY_EXISTS"},
    {kErrorUnrecognizedVolume, "ERROR_UNRECOGNIZED_VOLUME"},
    {kErrorDiskCorrupt, "ERROR_DISK_CORRUPT"},
    {kErrorFileCorrupt, "ERROR_FILE_CORRUPT"},
    {kErrorVolumeDirty, "ERROR_VOLUME_DIRTY"},
};
#endif

struct KeptError {
  uint32_t code = 0;
  SystemError original;
};

thread_local KeptError g_kept;

}  // namespace

const std::error_category& RefusalCategory() {
  static const Refusals category;
  return category;
}

const std::error_category& WindowsCategory() {
  static const WindowsNumbers category;
  return category;
}

SystemError ErrorFromCode(uint32_t code) {
  const int value = static_cast<int>(code);
  if (FindRefusal(code)) return {value, RefusalCategory()};
#ifndef _WIN32
  if (const int err = ErrnoFor(code)) return ErrnoError(err);
#endif
  return {value, WindowsCategory()};
}

SystemError ErrnoError(int err) { return {err, std::generic_category()}; }

uint32_t WindowsCode(const SystemError& error) {
  if (error.category() == std::generic_category() || error.category() == std::system_category())
    return WindowsNumberOfErrno(error.value());
  return static_cast<uint32_t>(error.value());
}

std::string ErrorName(const SystemError& error) {
  const uint32_t code = static_cast<uint32_t>(error.value());
  if (error.category() == RefusalCategory()) {
    const RefusalText* refusal = FindRefusal(code);
    return refusal ? refusal->name : "refusal-" + std::to_string(code);
  }
  if (error.category() == WindowsCategory()) {
#ifdef _WIN32
    for (const auto& entry : kWindowsNames)
      if (entry.code == code) return entry.name;
#endif
    return "WIN32_" + std::to_string(code);
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 32)
  if (const char* name = strerrorname_np(error.value())) return name;
#endif
  return "ERRNO_" + std::to_string(error.value());
}

uint32_t KeepSystemError(uint32_t code, const SystemError& original) {
  g_kept = {code, original};
  return code;
}

SystemError SystemErrorFor(uint32_t code) {
  if (g_kept.original && g_kept.code == code) return g_kept.original;
  return ErrorFromCode(code);
}

void ForgetSystemError() { g_kept = {}; }

}  // namespace shardix
