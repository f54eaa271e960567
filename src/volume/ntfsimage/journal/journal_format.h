// The journal file's layout and the helpers the journal and its recovery
// share: CRC-32, whole transfers on a library device, and the storage
// recorder (storage_events.h). Private to this folder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "volume/ntfsimage/journal/storage_events.h"

struct ntfs_device;

namespace shardix::ntfsimage {

constexpr char kJournalMagic[8] = {'S', 'H', 'X', 'J', 'R', 'N', 'L', '1'};

struct JournalHeader {
  char magic[8];
  uint32_t header_size;   // this struct and the names after it
  uint32_t record_count;
  uint64_t payload_size;  // the records, from header_size on
  uint32_t payload_crc;
  uint32_t boot_crc;      // of the image's first 512 bytes
  uint64_t moves;
  uint32_t names_size;
  uint32_t header_crc;    // of all of the above with this field 0, and the names
};

struct RecordHead {
  uint64_t offset;
  uint64_t length;
};

// A journal read back: the header checks out and every record is whole.
struct ParsedJournal {
  JournalHeader header{};
  std::string names;
  std::vector<std::pair<RecordHead, const uint8_t*>> records;
};
bool ParseJournal(const std::vector<uint8_t>& file, ParsedJournal* out);

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0);
uint32_t HeaderCrc(JournalHeader header, const uint8_t* names);
// Of the image's boot sector, which identifies the volume; *err 0 or errno.
uint32_t BootCrc(ntfs_device* dev, int* err);

// Whole transfers: 0 or an errno. *got stops short only at the end of the image.
int DevicePread(ntfs_device* dev, void* bytes, int64_t count, int64_t offset, int64_t* got);
int DevicePwrite(ntfs_device* dev, const void* bytes, int64_t count, int64_t offset);

// Hands an event to the recorder, if one is set.
void Record(StorageTarget target, StorageOp op, int64_t offset = 0, const void* bytes = nullptr,
            size_t count = 0);
int GroupWindowMilliseconds();

}  // namespace shardix::ntfsimage
