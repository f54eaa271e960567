// Message texts for the Windows error numbers where there is no
// FormatMessage: the system's own wording for the codes this program meets.
#include <cerrno>
#include <cstdio>

#include "volume/error_codes.h"

namespace shardix {

namespace {

struct ErrorText {
  uint32_t code;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {kErrorSuccess, "The operation completed successfully."},
    {kErrorInvalidFunction, "Incorrect function."},
    {kErrorFileNotFound, "The system cannot find the file specified."},
    {kErrorPathNotFound, "The system cannot find the path specified."},
    {kErrorTooManyOpenFiles, "The system cannot open the file."},
    {kErrorAccessDenied, "Access is denied."},
    {kErrorInvalidHandle, "The handle is invalid."},
    {kErrorNotEnoughMemory, "Not enough memory resources are available to process this command."},
    {kErrorInvalidData, "The data is invalid."},
    {kErrorOutOfMemory, "Not enough memory resources are available to complete this operation."},
    {kErrorWriteProtect, "The media is write protected."},
    {kErrorNotReady, "The device is not ready."},
    {kErrorCrc, "Data error (cyclic redundancy check)."},
    {kErrorSeek, "The drive cannot locate a specific area or track on the disk."},
    {kErrorWriteFault, "The system cannot write to the specified device."},
    {kErrorReadFault, "The system cannot read from the specified device."},
    {kErrorGenFailure, "A device attached to the system is not functioning."},
    {kErrorSharingViolation,
     "The process cannot access the file because it is being used by another process."},
    {kErrorLockViolation,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {kErrorHandleEof, "Reached the end of the file."},
    {kErrorHandleDiskFull, "The disk is full."},
    {kErrorNotSupported, "The request is not supported."},
    {kErrorInvalidParameter, "The parameter is incorrect."},
    {kErrorDiskFull, "There is not enough space on the disk."},
    {kErrorInsufficientBuffer, "The data area passed to a system call is too small."},
    {kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
    {kErrorBadPathname, "The specified path is invalid."},
    {kErrorAlreadyExists, "Cannot create a file when that file already exists."},
    {kErrorMoreData, "More data is available."},
    {kErrorDirectoryNotSupported, "An operation is not supported on a directory."},
    {kErrorUnrecognizedVolume, "The volume does not contain a recognized file system."},
    {kErrorFileInvalid, "The volume for a file has been externally altered so that the opened file is no longer valid."},
    {kErrorIoDevice, "The request could not be performed because of an I/O device error."},
    {kErrorFileCorrupt, "The file or directory is corrupted and unreadable."},
    {kErrorDiskCorrupt, "The disk structure is corrupted and unreadable."},
    {kErrorVolumeDirty,
     "The volume was not shut down cleanly by Windows (it is hibernated or its log is not "
     "empty). Start Windows, shut it down fully, then try again."},
};

}  // namespace

std::string ErrorMessage(uint32_t code) {
  if (const char* own = OwnErrorMessage(code)) return own;
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Unknown error %u.", code);
  return text;
}

}  // namespace shardix
