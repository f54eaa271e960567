#include "volume/ntfsimage/write_preflight.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "volume/error_codes.h"
#ifdef _WIN32
#include "volume/wide_text.h"
#endif
#include "volume/ntfsimage/image_mount.h"
#include "volume/ntfsimage/journal/image_journal.h"
#include "volume/ntfsimage/journal/journal_probe.h"
#include "volume/ntfsimage/journal/journal_recovery.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

int ImageWriteErrno(const std::string& image) {
  errno = 0;
#ifdef _WIN32
  FILE* opened = _wfopen(WidePathForOpen(image).c_str(), L"r+b");
#else
  FILE* opened = std::fopen(image.c_str(), "r+b");
#endif
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
  if (mount.write_refusal() == kErrorInterruptedChange) {
    *refusal = image + " is marked as being changed by a job that was interrupted, and its "
                       "journal was not found: nothing will be moved; run shardix check " +
               image + " for where it was looked for and what to do";
    return kErrorInterruptedChange;
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
