// POSIX errno values (from libntfs-3g and the C library) as Windows codes.
#include <cerrno>

#include "volume/error_codes.h"
#include "volume/system_error.h"

namespace shardix {

uint32_t WindowsNumberOfErrno(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EROFS: return kErrorWriteProtect;
    case EBUSY: return kErrorSharingViolation;
    case ENOSPC: return kErrorDiskFull;
    case EINVAL:
    case ERANGE: return kErrorInvalidParameter;
    case EISDIR: return kErrorDirectoryNotSupported;
    case ENAMETOOLONG: return kErrorInvalidName;
    case EEXIST: return kErrorAlreadyExists;
    case EOPNOTSUPP: return kErrorNotSupported;
    case EIO: return kErrorIoDevice;
    default: return kErrorGenFailure;
  }
}

uint32_t ErrorFromErrno(int err) {
  const uint32_t code = WindowsNumberOfErrno(err);
  // Windows has words of its own for its numbers; elsewhere the errno's are
  // the system's, and more exact than the number's.
#ifndef _WIN32
  if (err != 0) KeepSystemError(code, ErrnoError(err));
#endif
  return code;
}

}  // namespace shardix
