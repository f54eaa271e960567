// Windows error numbers, used by every backend on every platform, and the
// one helper that turns them into the system's message text.
#pragma once

#include <cstdint>
#include <string>

namespace shardix {

enum : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorOutOfMemory = 14,
  kErrorWriteProtect = 19,
  kErrorNotReady = 21,
  kErrorCrc = 23,
  kErrorSeek = 25,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorGenFailure = 31,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleEof = 38,
  kErrorHandleDiskFull = 39,
  kErrorNotSupported = 50,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorInsufficientBuffer = 122,
  kErrorInvalidName = 123,
  kErrorBadPathname = 161,
  kErrorAlreadyExists = 183,
  kErrorMoreData = 234,
  kErrorDirectoryNotSupported = 336,
  kErrorUnrecognizedVolume = 1005,
  kErrorFileInvalid = 1006,
  kErrorIoDevice = 1117,
  kErrorFileCorrupt = 1392,
  kErrorDiskCorrupt = 1393,
  kErrorVolumeDirty = 6851,  // left dirty or hibernated by Windows
  // Our own codes (the customer bit set, as Windows reserves it for
  // applications), with texts of our own on every platform.
  kErrorNotImageFile = 0x20000001,      // a FIFO, socket or character device
  kErrorVolumeMapDisagrees = 0x20000002,  // $Bitmap and the files disagree
  kErrorInterruptedChange = 0x20000003,   // marked as being changed, no journal found
  kErrorJournalKeptAside = 0x20000004,    // a journal did not fit the image
  kErrorNotInsideImage = 0x20000005,      // an image named where a file in it was wanted
};

// The text of one of our own codes, or null for a system code.
const char* OwnErrorMessage(uint32_t code);

// The system's message for `code`, without the trailing line break that
// FormatMessage appends: FormatMessage on Windows, our own table elsewhere.
std::string ErrorMessage(uint32_t code);

// The Windows code closest to a POSIX errno value (for the image backend).
uint32_t ErrorFromErrno(int err);

}  // namespace shardix
