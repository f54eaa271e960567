#include "volume/ntfsimage/write_preflight.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "volume/error_codes.h"
#include "volume/ntfsimage/image_mount.h"
#include "volume/ntfsimage/journal/image_journal.h"
#include "volume/ntfsimage/journal/journal_file.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

// A block as large as the file systems' own, so that a full one says so.
constexpr size_t kProbeBytes = 4096;

// Makes a file beside where the journal goes, as the journal's first
// commit would (folder included), writes and flushes a block, and removes
// it again. 0, or the errno with *words the system's text.
int ProbeJournalPlace(const std::string& journal_path, std::string* words) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder = fs::path(journal_path).parent_path();
  if (!folder.empty()) fs::create_directories(folder, error);
  if (error) {
    *words = error.message();
    return error.value() ? error.value() : EIO;
  }
  const std::string probe = journal_path + ".probe";
  JournalFile file;
  int err = file.Open(probe, true);
  if (err == 0) {
    const std::vector<uint8_t> block(kProbeBytes, 0);
    err = file.WriteAt(0, block.data(), block.size());
    if (err == 0) err = file.Flush();
    file.Close();
    if (err == 0) err = FlushFolderOf(probe);
    fs::remove(probe, error);
  }
  if (err) *words = std::strerror(err);
  return err;
}

}  // namespace

int ImageWriteErrno(const std::string& image) {
  errno = 0;
  FILE* opened = std::fopen(image.c_str(), "r+b");
  if (!opened) return errno ? errno : EACCES;
  std::fclose(opened);
  return 0;
}

uint32_t CheckMovesCanBeKept(ImageMount& mount, std::string* refusal) {
  const std::string& image = mount.image_path();
  if (mount.in_use()) {
    *refusal = image + " is in use by another program and is only read: unmount it (or end "
                       "the program holding it) and try again";
    return kErrorSharingViolation;
  }
  int err = mount.read_only() ? mount.write_errno() : ImageWriteErrno(image);
  if (mount.read_only() && err == 0) err = EROFS;  // opened only for reading
  if (err) {
    *refusal = image + " cannot be written (" + std::strerror(err) +
               "): make it writable, or copy it to a place where it can be written, and try "
               "again; nothing was moved";
    return CodeFromErrno(err);
  }
  if (!JournalEnabled()) return kErrorSuccess;
  const std::string journal = JournalPathFor(image);
  std::string words;
  if ((err = ProbeJournalPlace(journal, &words))) {
    *refusal = "the journal that keeps the moves safe cannot be written at " + journal + " (" +
               words +
               "): free some space there or make it writable, or set SHARDIX_JOURNAL_DIR to a "
               "folder that can be written, and try again; nothing was moved";
    return CodeFromErrno(err);
  }
  return kErrorSuccess;
}

}  // namespace shardix::ntfsimage
