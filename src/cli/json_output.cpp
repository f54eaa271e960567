#include "cli/json_output.h"

#include <cstdio>

#include "volume/error_codes.h"
#include "volume/unicode_text.h"

namespace shardix::cli {

namespace {

// The codes the volume layer uses, by the names scripts know them: outside
// Windows the errno the image backend maps to the code, or a name of ours
// where the code stands for no errno; on Windows the Win32 name.
constexpr struct {
  uint32_t code;
  const char* posix_name;  // null: the Win32 name everywhere
  const char* win32_name;
} kCodeNames[] = {
    {kErrorInvalidFunction, nullptr, "ERROR_INVALID_FUNCTION"},
    {kErrorFileNotFound, "ENOENT", "ERROR_FILE_NOT_FOUND"},
    {kErrorPathNotFound, "ENOTDIR", "ERROR_PATH_NOT_FOUND"},
    {kErrorTooManyOpenFiles, "EMFILE", "ERROR_TOO_MANY_OPEN_FILES"},
    {kErrorAccessDenied, "EACCES", "ERROR_ACCESS_DENIED"},
    {kErrorInvalidHandle, "EBADF", "ERROR_INVALID_HANDLE"},
    {kErrorNotEnoughMemory, "ENOMEM", "ERROR_NOT_ENOUGH_MEMORY"},
    {kErrorInvalidData, "invalid-data", "ERROR_INVALID_DATA"},
    {kErrorOutOfMemory, "ENOMEM", "ERROR_OUTOFMEMORY"},
    {kErrorWriteProtect, "EROFS", "ERROR_WRITE_PROTECT"},
    {kErrorNotReady, nullptr, "ERROR_NOT_READY"},
    {kErrorCrc, nullptr, "ERROR_CRC"},
    {kErrorSeek, nullptr, "ERROR_SEEK"},
    {kErrorWriteFault, nullptr, "ERROR_WRITE_FAULT"},
    {kErrorReadFault, nullptr, "ERROR_READ_FAULT"},
    {kErrorGenFailure, "failed", "ERROR_GEN_FAILURE"},
    {kErrorSharingViolation, "EBUSY", "ERROR_SHARING_VIOLATION"},
    {kErrorLockViolation, nullptr, "ERROR_LOCK_VIOLATION"},
    {kErrorHandleEof, nullptr, "ERROR_HANDLE_EOF"},
    {kErrorHandleDiskFull, nullptr, "ERROR_HANDLE_DISK_FULL"},
    {kErrorNotSupported, "EOPNOTSUPP", "ERROR_NOT_SUPPORTED"},
    {kErrorInvalidParameter, "EINVAL", "ERROR_INVALID_PARAMETER"},
    {kErrorDiskFull, "ENOSPC", "ERROR_DISK_FULL"},
    {kErrorInsufficientBuffer, nullptr, "ERROR_INSUFFICIENT_BUFFER"},
    {kErrorInvalidName, "ENAMETOOLONG", "ERROR_INVALID_NAME"},
    {kErrorBadPathname, nullptr, "ERROR_BAD_PATHNAME"},
    {kErrorAlreadyExists, "EEXIST", "ERROR_ALREADY_EXISTS"},
    {kErrorMoreData, nullptr, "ERROR_MORE_DATA"},
    {kErrorDirectoryNotSupported, "EISDIR", "ERROR_DIRECTORY_NOT_SUPPORTED"},
    {kErrorUnrecognizedVolume, "not-ntfs", "ERROR_UNRECOGNIZED_VOLUME"},
    {kErrorFileInvalid, "file-invalid", "ERROR_FILE_INVALID"},
    {kErrorIoDevice, "EIO", "ERROR_IO_DEVICE"},
    {kErrorFileCorrupt, "file-corrupt", "ERROR_FILE_CORRUPT"},
    {kErrorDiskCorrupt, "volume-corrupt", "ERROR_DISK_CORRUPT"},
    {kErrorVolumeDirty, "volume-dirty", "ERROR_VOLUME_DIRTY"},
    {kErrorNotImageFile, "not-an-image", "not-an-image"},
    {kErrorVolumeMapDisagrees, "volume-map-disagrees", "volume-map-disagrees"},
    {kErrorInterruptedChange, "interrupted-change", "interrupted-change"},
    {kErrorJournalKeptAside, "journal-kept-aside", "journal-kept-aside"},
};

std::function<void(const Json&)>& Sink() {
  static std::function<void(const Json&)> sink;
  return sink;
}

std::string HexBytes(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

}  // namespace

std::string ErrorCodeName(uint32_t code) {
  for (const auto& entry : kCodeNames) {
    if (entry.code != code) continue;
#ifndef _WIN32
    if (entry.posix_name) return entry.posix_name;
#endif
    return entry.win32_name;
  }
  return "WIN32_" + std::to_string(code);
}

std::string ReadableText(const std::string& text) {
  bool valid = true;
  const std::u16string wide = Utf16FromUtf8(text, &valid);
  return valid ? text : Utf8FromUtf16(wide);
}

void PutText(Json& object, const std::string& key, const std::string& text) {
  bool valid = true;
  const std::u16string wide = Utf16FromUtf8(text, &valid);
  object[key] = valid ? text : Utf8FromUtf16(wide);
  if (!valid) object[key + "_hex"] = HexBytes(text);
}

Json ErrorJson(const JsonError& error) {
  Json object;
  object["code"] = error.code;
  object["message"] = ReadableText(error.message);
  if (error.path.empty()) object["path"] = nullptr;
  else PutText(object, "path", error.path);
  return object;
}

Json CommandJson(const std::string& command, const JsonError* error, const Json& fields) {
  Json object;
  object["command"] = command;
  object["ok"] = error == nullptr;
  object["error"] = error ? ErrorJson(*error) : Json(nullptr);
  for (const auto& [key, value] : fields.items()) object[key] = value;
  return object;
}

void PrintErrorLine(const std::string& command, const JsonError& error) {
  const bool named = error.path.empty() || error.message.find(error.path) != std::string::npos;
  std::fprintf(stderr, "shardix %s: %s%s%s\n", command.c_str(), named ? "" : error.path.c_str(),
               named ? "" : ": ", error.message.c_str());
}

void PrintJson(const Json& object) {
  if (Sink()) {
    Sink()(object);
    return;
  }
  // Every text went through PutText; replacing is only the last guard
  // against a throw over a stray byte.
  const std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void SetJsonSink(std::function<void(const Json&)> sink) { Sink() = std::move(sink); }

bool AsksForJson(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (word == "--") return false;
    if (word == "--json") return true;
  }
  return false;
}

}  // namespace shardix::cli
