// Playing back a journal left by an interrupted commit (image_journal.h).
#include <fcntl.h>

#include <filesystem>
#include <iostream>
#include <system_error>

#include "volume/error_codes.h"
#include "volume/unicode_text.h"
#include "volume/ntfsimage/journal/image_journal.h"
#include "volume/ntfsimage/journal/journal_format.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

uint32_t RecoverJournal(const std::string& canonical, RecoveryOutcome* outcome, bool play_back) {
  *outcome = RecoveryOutcome{};
  const std::string path = JournalPathFor(canonical);
  std::error_code error;
  if (!std::filesystem::exists(PathFromUtf8(path), error)) return kErrorSuccess;

  // The image's write lock first: while another Shardix has the image, its
  // journal is alive and not ours to read or remove.
  ntfs_device* dev = nullptr;
  if (play_back) {
    dev = ntfs_device_alloc(canonical.c_str(), 0, &SHARDIX_LIBRARY_IO_OPS, nullptr);
    if (!dev) return CodeFromErrno(errno);
    errno = 0;
    if (dev->d_ops->open(dev, O_RDWR) != 0) {
      const uint32_t code = MountFailureCode(errno, canonical);
      ntfs_device_free(dev);
      return code;
    }
  }
  auto release = [&dev]() -> int {
    if (!dev) return 0;
    const int failed = dev->d_ops->close(dev) != 0 ? (errno ? errno : EIO) : 0;
    ntfs_device_free(dev);
    dev = nullptr;
    return failed;
  };

  JournalFile file;
  std::vector<uint8_t> bytes;
  int err = file.Open(path, false);
  if (err == 0) err = file.ReadAll(&bytes);
  if (err) {
    release();
    return CodeFromErrno(err);
  }
  ParsedJournal journal;
  if (!ParseJournal(bytes, &journal)) {
    // Empty, or torn before its flush ended, when the image was not yet
    // touched: nothing to undo.
    file.Close();
    if (play_back) std::filesystem::remove(PathFromUtf8(path), error);
    release();
    return kErrorSuccess;
  }
  outcome->was_pending = true;
  outcome->files = journal.names;
  outcome->moves = journal.header.moves;
  if (!play_back) {
    outcome->problem = "it is played back when the image is next opened for writing";
    return kErrorSuccess;
  }

  const uint32_t boot_crc = BootCrc(dev, &err);
  if (err == 0 && boot_crc != journal.header.boot_crc) {
    release();
    outcome->problem = "the journal " + path + " belongs to another volume; it is left in place";
    std::cerr << "Shardix: " << outcome->problem << "\n";
    return kErrorInvalidData;
  }
  for (const auto& [head, old_bytes] : journal.records) {
    if (err) break;
    err = DevicePwrite(dev, old_bytes, static_cast<int64_t>(head.length), static_cast<int64_t>(head.offset));
    if (err == 0) {
      Record(StorageTarget::kImage, StorageOp::kWrite, static_cast<int64_t>(head.offset), old_bytes, head.length);
      outcome->bytes_restored += head.length;
    }
  }
  if (err == 0 && dev->d_ops->sync(dev) != 0) err = errno ? errno : EIO;
  if (const int closed = release(); err == 0) err = closed;
  if (err) {
    outcome->problem = "playing back " + path + " failed: " + ErrorMessage(CodeFromErrno(err));
    return CodeFromErrno(err);
  }
  // Restored and on the disk: the journal has done its work.
  const std::vector<uint8_t> empty(512, 0);
  if ((err = file.WriteAt(0, empty.data(), empty.size())) == 0) err = file.Flush();
  file.Close();
  if (err == 0) {
    std::filesystem::remove(PathFromUtf8(path), error);
    FlushFolderOf(path);
  }
  outcome->rolled_back = true;
  std::cerr << RecoveryText(Utf8FromPath(PathFromUtf8(canonical).filename()), *outcome) << "\n";
  return kErrorSuccess;
}

std::string RecoveryText(const std::string& image_name, const RecoveryOutcome& outcome) {
  if (!outcome.was_pending) return "";
  const std::string files = outcome.files.empty() ? "a file" : outcome.files;
  if (outcome.rolled_back && outcome.moves == 0)
    return "Recovered an interrupted write-back of " + image_name + ": " +
           std::to_string(outcome.bytes_restored) + " bytes of metadata restored";
  if (!outcome.rolled_back)
    return "An interrupted move of " + files + " in " + image_name + " is pending: " + outcome.problem;
  return "Recovered an interrupted move of " + files + " in " + image_name + ": " +
         std::to_string(outcome.moves) + (outcome.moves == 1 ? " move" : " moves") +
         " rolled back, " + std::to_string(outcome.bytes_restored) + " bytes of metadata restored";
}

}  // namespace shardix::ntfsimage
