// Playing back a journal left by an interrupted commit (journal_recovery.h),
// only onto the state it was written for.
#include "volume/ntfsimage/journal/journal_recovery.h"

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

#include "volume/error_codes.h"
#include "volume/notices.h"
#include "volume/unicode_text.h"
#include "volume/ntfsimage/journal/internal/journal_file.h"
#include "volume/ntfsimage/journal/internal/journal_format.h"
#include "volume/ntfsimage/journal/internal/volume_mark.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"
#include "volume/system_error.h"

namespace shardix::ntfsimage {

namespace fs = std::filesystem;

bool JournalEnabled() {
  const char* setting = std::getenv("SHARDIX_JOURNAL");
  return !(setting && std::string(setting) == "off");
}

namespace {

constexpr char kJournalSuffix[] = ".shardix-journal";

// Where journals live: beside image files, the folder SHARDIX_JOURNAL_DIR
// names, and the system's folder for devices.
std::string SystemJournalFolder() {
#ifdef _WIN32
  const char* data = std::getenv("ProgramData");
  return Utf8FromPath(fs::path(data ? data : "C:\\ProgramData") / "Shardix");
#else
  return "/var/lib/shardix";
#endif
}

std::string ChosenJournalFolder() {
  const char* folder = std::getenv("SHARDIX_JOURNAL_DIR");
  return folder && *folder ? std::string(folder) : std::string();
}

}  // namespace

std::string JournalPathFor(const std::string& canonical) {
  // In a shared folder two images of the same name must not share a journal.
  char tag[16];
  std::snprintf(tag, sizeof tag, "-%08x", static_cast<unsigned>(Crc32(
      reinterpret_cast<const uint8_t*>(canonical.data()), canonical.size())));
  const std::string name = Utf8FromPath(PathFromUtf8(canonical).filename()) + tag + kJournalSuffix;
  if (const std::string folder = ChosenJournalFolder(); !folder.empty())
    return Utf8FromPath(PathFromUtf8(folder) / PathFromUtf8(name));
  std::error_code error;
  if (fs::is_regular_file(PathFromUtf8(canonical), error)) return canonical + kJournalSuffix;
  return Utf8FromPath(PathFromUtf8(SystemJournalFolder()) / PathFromUtf8(name));
}

namespace {

// What to do with one journal, judged against the image as it is.
struct Verdict {
  enum Kind {
    kSpent,      // nothing to undo: remove it
    kPlayBack,   // restore the old bytes, then clear our mark
    kClearMark,  // the image is at a commit's end: clear our mark
    kKeepAside,  // it does not fit: change nothing, keep it
  } kind = kSpent;
  std::string found;  // for kKeepAside, what did not fit; otherwise a note or ""
};

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// Every sector of every record holds the old bytes or the new ones: ""; or
// what one sector holds instead. The dirty-flag bytes are compared with the
// mark's bit set (journal_format.h).
std::string CompareRecords(ntfs_device* dev, const ParsedJournal& journal, bool* all_new) {
  *all_new = true;
  std::vector<uint8_t> now, old;
  for (const JournalRecord& record : journal.records) {
    const auto length = static_cast<int64_t>(record.head.length);
    const auto offset = static_cast<int64_t>(record.head.offset);
    now.resize(static_cast<size_t>(length));
    if (DeviceReadWhole(dev, now.data(), length, offset) != 0)
      return "the image cannot be read (or ends) at byte " + std::to_string(offset) +
             ", which the interrupted commit changed";
    old.assign(record.old_bytes, record.old_bytes + length);
    for (const int64_t at : journal.anchor.flag_bytes) {
      if (at < offset || at >= offset + length) continue;
      now[at - offset] |= kDirtyBit;
      old[at - offset] |= kDirtyBit;
    }
    for (int64_t from = 0, sector = 0; from < length; from += kSectorBytes, ++sector) {
      const size_t count = static_cast<size_t>(std::min(kSectorBytes, length - from));
      // A sector the commit wrote unchanged is both: count it as new.
      if (Crc32(now.data() + from, count) == record.AfterCrc(static_cast<size_t>(sector))) continue;
      if (std::memcmp(now.data() + from, old.data() + from, count) == 0) {
        *all_new = false;
        continue;
      }
      return "the 512 bytes at byte " + std::to_string(offset + from) +
             " of the image are neither what the interrupted commit found there nor what it "
             "wrote: the image was changed since (written by another program, or restored from "
             "a copy)";
    }
  }
  return "";
}

// `volume` read from the image; `readable` false when it could not be.
Verdict Judge(ntfs_device* dev, const ParsedJournal& journal, const VolumeIdentity& volume,
              bool readable) {
  switch (journal.kind) {
    case ParsedJournal::kEmpty:
      return {Verdict::kSpent, ""};
    case ParsedJournal::kOldFormat:
      return {Verdict::kKeepAside,
              "it was written by an earlier version of Shardix, whose journals cannot be checked "
              "against the image"};
    case ParsedJournal::kForeign:
      return {Verdict::kKeepAside, "it is not a Shardix journal, or it is damaged"};
    case ParsedJournal::kTornAnchor:
      // The mark follows a whole journal: without it, the image was not touched.
      if (readable && !volume.dirty)
        return {Verdict::kSpent, "a journal cut short before the image was touched was discarded"};
      return {Verdict::kKeepAside, "it is damaged (cut short)"};
    default:
      break;
  }
  if (!readable)
    return {Verdict::kKeepAside, "the image's boot sector or $Volume record cannot be read"};
  VolumeIdentity recorded;
  recorded.serial = journal.anchor.serial;
  recorded.boot_crc = journal.anchor.boot_crc;
  recorded.cluster_count = journal.anchor.cluster_count;
  if (!recorded.SameVolume(volume))
    return {Verdict::kKeepAside, "it belongs to another volume (serial number " +
                                     Hex(recorded.serial) + "; the image's is " +
                                     Hex(volume.serial) + ")"};
  // Read where the journal says the flag lies: the $Volume record itself
  // may be one the crash tore.
  bool marked = false;
  for (const int64_t at : journal.anchor.flag_bytes) {
    uint8_t low = 0;
    marked = marked || (at >= 0 && DeviceReadWhole(dev, &low, 1, at) == 0 && (low & kDirtyBit));
  }
  const bool our_mark = marked && !journal.anchor.was_dirty;
  if (journal.kind == ParsedJournal::kTornCommit) {
    // Cut short while it was written: its commit never touched the image.
    return {our_mark ? Verdict::kClearMark : Verdict::kSpent,
            "the journal's last entry was cut short by the crash before the image was touched: "
            "nothing to undo"};
  }
  bool all_new = false;
  if (journal.commit.state == kCommitDone) {
    if (!our_mark) return {Verdict::kSpent, ""};
    const std::string found = CompareRecords(dev, journal, &all_new);
    if (!found.empty()) return {Verdict::kKeepAside, found};
    if (!all_new)
      return {Verdict::kKeepAside,
              "the image holds an older state than the journal's last commit (restored from a "
              "copy?)"};
    return {Verdict::kClearMark, ""};
  }
  const std::string found = CompareRecords(dev, journal, &all_new);
  if (!found.empty()) return {Verdict::kKeepAside, found};
  return {Verdict::kPlayBack, ""};
}

int ClearMark(ntfs_device* dev, const ParsedJournal& journal) {
  if (journal.anchor.was_dirty) return 0;  // not ours to clear
  for (const int64_t at : journal.anchor.flag_bytes) {
    uint8_t sector[kSectorBytes];
    const int64_t start = SectorOf(at);
    if (int err = DeviceReadWhole(dev, sector, kSectorBytes, start)) return err;
    if (!(sector[at - start] & kDirtyBit)) continue;
    sector[at - start] &= static_cast<uint8_t>(~kDirtyBit);
    if (int err = DevicePwrite(dev, sector, kSectorBytes, start)) return err;
    Record(StorageTarget::kImage, StorageOp::kWrite, start, sector, kSectorBytes);
  }
  return 0;
}

int SyncDevice(ntfs_device* dev) {
  errno = 0;
  if (dev->d_ops->sync(dev) != 0) return errno ? errno : EIO;
  Record(StorageTarget::kImage, StorageOp::kSync);
  return 0;
}

int Apply(ntfs_device* dev, const ParsedJournal& journal, Verdict::Kind kind, RecoveryOutcome* outcome) {
  int err = 0;
  if (kind == Verdict::kPlayBack) {
    for (const JournalRecord& record : journal.records) {
      err = DevicePwrite(dev, record.old_bytes, static_cast<int64_t>(record.head.length),
                         static_cast<int64_t>(record.head.offset));
      if (err) return err;
      Record(StorageTarget::kImage, StorageOp::kWrite, static_cast<int64_t>(record.head.offset),
             record.old_bytes, record.head.length);
      outcome->bytes_restored += record.head.length;
    }
    // The old bytes on the disk before the mark goes.
    if ((err = SyncDevice(dev))) return err;
  }
  if ((err = ClearMark(dev, journal))) return err;
  return SyncDevice(dev);
}

// The image's own device, opened for writing under the library's lock: while
// another Shardix has the image, its journal is alive and not ours.
class LockedImage {
 public:
  uint32_t Open(const std::string& canonical) {
    dev_ = ntfs_device_alloc(canonical.c_str(), 0, &SHARDIX_LIBRARY_IO_OPS, nullptr);
    if (!dev_) return CodeFromErrno(errno);
    errno = 0;
    if (dev_->d_ops->open(dev_, O_RDWR) != 0) {
      const uint32_t code = MountFailureCode(errno, canonical);
      ntfs_device_free(dev_);
      dev_ = nullptr;
      return code;
    }
    return kErrorSuccess;
  }
  int Close() {
    if (!dev_) return 0;
    errno = 0;
    const int failed = dev_->d_ops->close(dev_) != 0 ? (errno ? errno : EIO) : 0;
    ntfs_device_free(dev_);
    dev_ = nullptr;
    return failed;
  }
  ~LockedImage() { Close(); }
  ntfs_device* dev() const { return dev_; }
  bool ReadIdentity(VolumeIdentity* volume) const {
    return ReadVolumeIdentity([this](void* bytes, int64_t count, int64_t offset) {
             return DeviceReadWhole(dev_, bytes, count, offset);
           }, volume) == 0;
  }

 private:
  ntfs_device* dev_ = nullptr;
};

// The volume's identity read without any lock, to see whether it is marked.
bool PeekIdentity(const std::string& canonical, VolumeIdentity* volume) {
  std::ifstream image(PathFromUtf8(canonical), std::ios::binary);
  if (!image) return false;
  return ReadVolumeIdentity([&image](void* bytes, int64_t count, int64_t offset) {
           image.clear();
           image.seekg(offset);
           image.read(static_cast<char*>(bytes), count);
           return image.gcount() == count ? 0 : EIO;
         }, volume) == 0;
}

int ReadJournal(const std::string& path, std::vector<uint8_t>* bytes) {
  JournalFile file;
  int err = file.Open(path, false);
  if (err == 0) err = file.ReadAll(bytes);
  return err;
}

void RemoveJournal(const std::string& path) {
  std::error_code error;
  fs::remove(PathFromUtf8(path), error);
  if (!error) {
    Record(StorageTarget::kJournal, StorageOp::kRemove);
    FlushFolderOf(path);
  }
}

// Renames the journal aside, under a name no search takes for a journal.
// The new name, or "" with *error set.
std::string KeepAside(const std::string& path, std::error_code* error) {
  std::string aside = path + ".kept";
  for (int n = 2; fs::exists(PathFromUtf8(aside), *error) && n < 1000; ++n) aside = path + ".kept." + std::to_string(n);
  fs::rename(PathFromUtf8(path), PathFromUtf8(aside), *error);
  if (*error) return "";
  FlushFolderOf(aside);
  return aside;
}

void Describe(const ParsedJournal& journal, RecoveryOutcome* outcome) {
  outcome->files = journal.names();
  outcome->moves = journal.commit.moves;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The journals in the places a journal is kept whose anchor names this
// volume, other than `home`.
std::vector<std::string> JournalsOfVolume(const std::string& canonical, const std::string& home,
                                          const VolumeIdentity& volume,
                                          std::vector<std::string>* places) {
  std::vector<std::string> folders{Utf8FromPath(PathFromUtf8(canonical).parent_path())};
  if (const std::string chosen = ChosenJournalFolder(); !chosen.empty()) folders.push_back(chosen);
  folders.push_back(SystemJournalFolder());
  std::vector<std::string> found;
  std::error_code error;
  for (const std::string& folder : folders) {
    if (std::find(places->begin(), places->end(), folder) != places->end()) continue;
    places->push_back(folder);
    for (fs::directory_iterator it(PathFromUtf8(folder), error), end; !error && it != end; it.increment(error)) {
      const std::string path = Utf8FromPath(it->path());
      const std::string name = Utf8FromPath(it->path().filename());
      if (path == home || name.size() <= sizeof kJournalSuffix - 1 ||
          name.compare(name.size() - (sizeof kJournalSuffix - 1), std::string::npos, kJournalSuffix) != 0)
        continue;
      // The anchor is enough to tell whose journal it is.
      JournalFile file;
      if (file.Open(path, false) != 0) continue;
      std::vector<uint8_t> bytes;
      if (file.ReadAll(&bytes) != 0 || bytes.size() < sizeof(JournalAnchor)) continue;
      JournalAnchor anchor;
      std::memcpy(&anchor, bytes.data(), sizeof anchor);
      if (std::memcmp(anchor.magic, kJournalMagic, sizeof kJournalMagic) != 0 ||
          Crc32(bytes.data(), offsetof(JournalAnchor, crc)) != anchor.crc)
        continue;
      VolumeIdentity recorded;
      recorded.serial = anchor.serial;
      recorded.boot_crc = anchor.boot_crc;
      recorded.cluster_count = anchor.cluster_count;
      if (recorded.SameVolume(volume)) found.push_back(path);
    }
    error.clear();
  }
  return found;
}

// After a journal found under another name was played back: it is spent
// when the image it names is gone or is this very file (a moved image, a
// hard link); a copy of the volume elsewhere may still need it.
bool BelongsHere(const ParsedJournal& journal, const std::string& canonical) {
  std::error_code error;
  const std::string named = journal.image_path();
  if (!fs::exists(PathFromUtf8(named), error)) return true;
  return fs::equivalent(PathFromUtf8(named), PathFromUtf8(canonical), error) && !error;
}

uint32_t FindByIdentity(const std::string& canonical, const std::string& home,
                        const VolumeIdentity& peeked, RecoveryOutcome* outcome) {
  std::vector<std::string> places;
  const std::vector<std::string> candidates = JournalsOfVolume(canonical, home, peeked, &places);
  std::string refused;
  if (!candidates.empty()) {
    LockedImage image;
    if (const uint32_t code = image.Open(canonical)) return code;
    VolumeIdentity volume;
    const bool readable = image.ReadIdentity(&volume);
    for (const std::string& path : candidates) {
      std::vector<uint8_t> bytes;
      ParsedJournal journal;
      if (ReadJournal(path, &bytes) != 0) continue;
      ParseJournal(bytes, &journal);
      const Verdict verdict = Judge(image.dev(), journal, volume, readable);
      if (verdict.kind != Verdict::kPlayBack && verdict.kind != Verdict::kClearMark) {
        if (verdict.kind == Verdict::kKeepAside) refused += "; " + path + " does not fit: " + verdict.found;
        continue;
      }
      outcome->journal = path;
      if (verdict.kind == Verdict::kPlayBack) Describe(journal, outcome);
      int err = Apply(image.dev(), journal, verdict.kind, outcome);
      if (const int closed = image.Close(); err == 0) err = closed;
      if (err) {
        outcome->was_pending = verdict.kind == Verdict::kPlayBack;
        outcome->problem = "playing back " + path + " failed: " + SystemErrorFor(CodeFromErrno(err)).message();
        return CodeFromErrno(err);
      }
      if (BelongsHere(journal, canonical)) RemoveJournal(path);
      if (verdict.kind == Verdict::kPlayBack) {
        outcome->was_pending = outcome->rolled_back = true;
        Notice(RecoveryText(Utf8FromPath(PathFromUtf8(canonical).filename()), *outcome) +
               " (its journal was found as " + path + ")");
      }
      return kErrorSuccess;
    }
  }
  std::string where;
  for (const std::string& place : places) where += (where.empty() ? "" : ", ") + place;
  outcome->interrupted = true;
  outcome->problem =
      "it is marked as being changed (NTFS's dirty flag is set) and no journal that fits it was "
      "found in " + where + refused +
      ". If a Shardix job on it was interrupted, put that job's journal back (beside the image, or "
      "set SHARDIX_JOURNAL_DIR as it was for the job) and run the command again; if not, let "
      "Windows check the volume (chkdsk /f), which clears the mark. Until then nothing on it is "
      "moved, and what it shows may be inconsistent";
  return kErrorSuccess;
}

}  // namespace

uint32_t RecoverJournal(const std::string& canonical, RecoveryOutcome* outcome, bool play_back) {
  *outcome = RecoveryOutcome{};
  const std::string path = JournalPathFor(canonical);
  const std::string image_name = Utf8FromPath(PathFromUtf8(canonical).filename());
  std::error_code error;
  if (!fs::exists(PathFromUtf8(path), error)) {
    // Under its own name nothing waits; the volume says whether a change
    // was interrupted all the same.
    VolumeIdentity peeked;
    if (!play_back || !PeekIdentity(canonical, &peeked) || !peeked.dirty) return kErrorSuccess;
    return FindByIdentity(canonical, path, peeked, outcome);
  }

  LockedImage image;
  if (play_back) {
    if (const uint32_t code = image.Open(canonical)) return code;
  }
  std::vector<uint8_t> bytes;
  if (const int err = ReadJournal(path, &bytes)) return CodeFromErrno(err);
  ParsedJournal journal;
  ParseJournal(bytes, &journal);
  outcome->journal = path;
  if (!play_back) {
    if (journal.kind == ParsedJournal::kValid && journal.commit.state == kCommitPending) {
      outcome->was_pending = true;
      Describe(journal, outcome);
      outcome->problem = "it is played back when the image is next opened for writing";
    }
    return kErrorSuccess;
  }

  VolumeIdentity volume;
  const bool readable = image.ReadIdentity(&volume);
  const Verdict verdict = Judge(image.dev(), journal, volume, readable);
  if (verdict.kind == Verdict::kKeepAside) {
    image.Close();
    outcome->was_pending = true;
    Describe(journal, outcome);
    const std::string aside = KeepAside(path, &error);
    outcome->problem = "the journal " + Quoted(path) + " was not played back: " + verdict.found +
                       ". Nothing was changed; " +
                       (aside.empty() ? "the journal was left where it is (renaming it failed: " +
                                            error.message() + ")"
                                      : "the journal was kept as " + Quoted(aside)) +
                       ". Run `shardix check` on the image: if it is clean, the kept journal is "
                       "not needed; if not, restore the image from a backup or let Windows "
                       "repair it (chkdsk /f)";
    outcome->journal = aside.empty() ? path : aside;
    Notice(image_name + ": " + outcome->problem);
    return kErrorJournalKeptAside;
  }
  if (verdict.kind == Verdict::kPlayBack) Describe(journal, outcome);
  int err = verdict.kind == Verdict::kSpent ? 0 : Apply(image.dev(), journal, verdict.kind, outcome);
  if (const int closed = image.Close(); err == 0) err = closed;
  if (err) {
    outcome->was_pending = verdict.kind == Verdict::kPlayBack;
    outcome->problem = "playing back " + path + " failed: " + SystemErrorFor(CodeFromErrno(err)).message();
    return CodeFromErrno(err);
  }
  // Restored and on the disk: the journal has done its work.
  RemoveJournal(path);
  if (!verdict.found.empty()) Notice(image_name + ": " + verdict.found);
  // A journal with nothing to undo says nothing about a mark someone left:
  // the journal that goes with it may be elsewhere.
  if (verdict.kind == Verdict::kSpent && readable && volume.dirty)
    return FindByIdentity(canonical, path, volume, outcome);
  if (verdict.kind == Verdict::kPlayBack) {
    outcome->was_pending = outcome->rolled_back = true;
    Notice(RecoveryText(image_name, *outcome));
  }
  return kErrorSuccess;
}

std::string RecoveryText(const std::string& image_name, const RecoveryOutcome& outcome) {
  if (outcome.interrupted) return "A change to " + image_name + " was interrupted: " + outcome.problem;
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
