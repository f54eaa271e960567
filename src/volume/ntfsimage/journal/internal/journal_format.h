// The journal file's layout and the helpers the journal and its recovery
// share: CRC-32, whole transfers on a library device, and the storage
// recorder (storage_events.h). Private to the journal.
//
// On-disk format, version 2. Host byte order (little-endian on every host
// we build for); every size in bytes.
//
//   [0, 512)      Anchor, written with the first commit of a mount and not
//                 again while the mount lasts:
//                   magic "SHXJRNL2", anchor size, version 2,
//                   the volume's identity (serial number, CRC-32 of its
//                   boot sector, cluster count),
//                   the image offsets of the two copies (in $MFT and
//                   $MFTMirr) of the byte holding the volume's dirty flag,
//                   whether the flag was set before the journal set it,
//                   the image's path when the journal was made (to tell a
//                   moved image or a hard link from a copy),
//                   and a CRC-32 of all of it, in the sector's last 4 bytes.
//   [512, 1024)   Commit header, rewritten by every commit:
//                   magic "SHXCMIT2", state (1 pending: the image may hold
//                   any mix of the records' old and new sectors; 2 done:
//                   the image holds the new ones), commit number, record
//                   count, payload size and CRC-32, moves, the names of
//                   the files moved, and a CRC-32 of the sector.
//   [1024, ...)   Payload: per record {offset, length, the old bytes,
//                 then one CRC-32 per 512-byte sector of the bytes the
//                 commit writes there (the after-image)}. Records start and
//                 end on sector boundaries, except at the image's end.
//
// The dirty-flag byte is compared with its dirty bit set: the journal sets
// that bit on the image for as long as a mount may write (the mark), so
// either value is the same state of the volume.
//
// A commit writes the header and payload and flushes them before it writes
// the image; its state turns to done, flushed, before the next group of
// moves may copy anything. Recovery plays a pending commit back only where
// every sector of every record holds the old bytes or the new ones.
// Version 1 (magic "SHXJRNL1", a boot sector CRC and old bytes only) is
// recognised only to be kept aside and reported.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "volume/ntfsimage/journal/internal/volume_mark.h"
#include "volume/ntfsimage/journal/storage_events.h"

struct ntfs_device;

namespace shardix::ntfsimage {

constexpr char kJournalMagic[8] = {'S', 'H', 'X', 'J', 'R', 'N', 'L', '2'};
constexpr char kOldJournalMagic[8] = {'S', 'H', 'X', 'J', 'R', 'N', 'L', '1'};
constexpr char kCommitMagic[8] = {'S', 'H', 'X', 'C', 'M', 'I', 'T', '2'};
constexpr uint32_t kJournalVersion = 2;
constexpr int64_t kCommitAt = 512;
constexpr int64_t kPayloadAt = 1024;

enum CommitState : uint32_t { kCommitPending = 1, kCommitDone = 2 };

struct JournalAnchor {
  char magic[8];
  uint32_t anchor_size;  // sizeof(JournalAnchor)
  uint32_t version;
  uint64_t serial;
  uint32_t boot_crc;
  uint32_t was_dirty;    // 1: the dirty flag was set before the journal's mark
  uint64_t cluster_count;
  int64_t flag_bytes[2];
  uint32_t path_size;
  char path[448];        // the image's path, not terminated; cut at 448
  uint32_t crc;          // of the 508 bytes before it
};
static_assert(sizeof(JournalAnchor) == 512, "the anchor is one sector");

struct CommitHeader {
  char magic[8];
  uint32_t state;
  uint32_t record_count;
  uint64_t sequence;
  uint64_t payload_size;
  uint64_t moves;
  uint32_t payload_crc;
  uint32_t names_size;
  char names[456];       // "a, b, ..." cut at 456
  uint32_t reserved;
  uint32_t crc;          // of the 508 bytes before it
};
static_assert(sizeof(CommitHeader) == 512, "the commit header is one sector");

struct RecordHead {
  uint64_t offset;
  uint64_t length;
};

struct JournalRecord {
  RecordHead head;
  const uint8_t* old_bytes;
  const uint8_t* after_crcs;  // one uint32_t per sector, unaligned
  uint32_t AfterCrc(size_t sector) const;
};

// What a journal file holds, read back.
struct ParsedJournal {
  enum Kind {
    kEmpty,        // nothing, or zeros: no commit was ever pending in it
    kOldFormat,    // version 1
    kForeign,      // not a journal of ours, or its anchor is damaged
    kTornAnchor,   // our magic, the anchor cut short by a crash
    kTornCommit,   // a valid anchor; the last commit's header or payload cut short
    kValid,
  };
  Kind kind = kEmpty;
  JournalAnchor anchor{};
  CommitHeader commit{};
  std::vector<JournalRecord> records;
  std::string image_path() const { return std::string(anchor.path, anchor.path_size); }
  std::string names() const { return std::string(commit.names, commit.names_size); }
};
// `file` must outlive the records' pointers.
void ParseJournal(const std::vector<uint8_t>& file, ParsedJournal* out);

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0);
// Seals the anchor and commit header: their last 4 bytes become the CRC-32
// of the rest.
void SealAnchor(JournalAnchor* anchor);
void SealCommit(CommitHeader* commit);

// Whole transfers: 0 or an errno. *got stops short only at the end of the image.
int DevicePread(ntfs_device* dev, void* bytes, int64_t count, int64_t offset, int64_t* got);
int DevicePwrite(ntfs_device* dev, const void* bytes, int64_t count, int64_t offset);
// The whole `count` bytes, or EIO at the end of the image.
int DeviceReadWhole(ntfs_device* dev, void* bytes, int64_t count, int64_t offset);

// Hands an event to the recorder, if one is set.
void Record(StorageTarget target, StorageOp op, int64_t offset = 0, const void* bytes = nullptr,
            size_t count = 0);
int GroupWindowMilliseconds();

}  // namespace shardix::ntfsimage
