#include "volume/ntfsimage/ntfs_errors.h"

#include <unistd.h>

#include "volume/error_codes.h"
#include "volume/ntfsimage/ntfs_headers.h"
#include "volume/system_error.h"

namespace shardix::ntfsimage {

uint32_t CodeFromErrno(int err) {
  if (err == 0) return kErrorGenFailure;
  const uint32_t code = ErrorFromErrno(err);
  return code == kErrorSuccess ? kErrorGenFailure : code;
}

uint32_t MountFailureCode(int err, const std::string& image) {
  switch (err) {
    case EINVAL:
      return kErrorUnrecognizedVolume;  // no NTFS boot sector
    case EIO:
      return kErrorDiskCorrupt;
    case EPERM:        // hibernated
    case EOPNOTSUPP:   // log not empty: Windows did not finish a shutdown
      return kErrorVolumeDirty;
    case EBUSY:        // mounted elsewhere
    case EAGAIN:       // another process holds the image's write lock
      return kErrorSharingViolation;
    case EACCES:
      // The library reports a lock held by another process as EACCES too;
      // only a file we may not write is a real access problem.
      return access(image.c_str(), W_OK) == 0 ? kErrorSharingViolation : kErrorAccessDenied;
    default:
      return CodeFromErrno(err);
  }
}

uint32_t ReportFailure(uint32_t code, const std::string& what, std::string* error) {
  if (error) {
    *error = what + ": " + SystemErrorFor(code).message();
    const std::string detail = LastLibraryMessage();
    if (!detail.empty()) *error += " (" + detail + ")";
  }
  return code;
}

namespace {

thread_local std::string g_last_message;

int CaptureLibraryLog(const char* /*function*/, const char* /*file*/, int /*line*/, u32 level,
                      void* /*data*/, const char* format, va_list args) {
  if (!(level & (NTFS_LOG_LEVEL_ERROR | NTFS_LOG_LEVEL_PERROR | NTFS_LOG_LEVEL_CRITICAL)))
    return 0;
  char text[512];
  const int written = vsnprintf(text, sizeof text, format, args);
  if (written < 0) return written;
  g_last_message.assign(text);
  while (!g_last_message.empty() &&
         (g_last_message.back() == '\n' || g_last_message.back() == '\r'))
    g_last_message.pop_back();
  return written;
}

}  // namespace

void InstallLibraryLogHandler() {
  static std::once_flag once;
  std::call_once(once, [] { ntfs_log_set_handler(CaptureLibraryLog); });
}

std::string LastLibraryMessage() { return g_last_message; }

void SetLastLibraryMessage(const std::string& message) { g_last_message = message; }

}  // namespace shardix::ntfsimage
