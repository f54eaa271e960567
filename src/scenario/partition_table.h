// Scenario images shaped as whole disks: an MBR or a GPT partition table
// around the volume, whose one partition holds it. Carvers and recovery
// tools mostly meet disks, not bare volumes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace shardix::scenario {

struct DiskShape {
  std::string table;        // "mbr" or "gpt"
  uint64_t offset = 0;      // bytes from the disk's start to the partition
  uint32_t sector_size = 512;
  uint64_t volume_bytes = 0;
  uint64_t seed = 0;        // the disk's identifiers are drawn from it
};

// The least offset the table leaves room for: the MBR's sector, or the
// protective MBR, GPT header and 128 entries.
uint64_t SmallestOffset(const std::string& table, uint32_t sector_size);
// Offset, volume, and for GPT the backup entries and header after it.
uint64_t DiskBytes(const DiskShape& shape);

// The table's bytes: those from the disk's start up to the partition, and
// those after the volume (GPT's backup entries and header; empty for MBR).
std::vector<uint8_t> TableHead(const DiskShape& shape);
std::vector<uint8_t> TableTail(const DiskShape& shape);

// Makes `disk` (which must not exist) from the volume file: the table, the
// volume's bytes at the offset with holes and zeros left as holes, and the
// NTFS boot sectors' hidden-sector count set to the partition's first
// sector. False with a line for people on failure or stop.
bool WriteDisk(const std::string& volume, const std::string& disk, const DiskShape& shape,
               const std::atomic<bool>* stop, std::string* error);

// The volume file `image` becomes a disk of the same name around it; the
// volume's own file is gone either way.
bool WrapVolumeInDisk(const std::string& image, const DiskShape& shape, const std::atomic<bool>* stop,
                      std::string* error);

// "" when `disk` holds the table `shape` gives, before and after the
// volume, else what differs.
std::string TableDifference(const std::string& disk, const DiskShape& shape);

// Copies `length` bytes of `disk` from `offset` into the new file `volume`,
// holes and zeros left as holes.
bool ExtractVolume(const std::string& disk, uint64_t offset, uint64_t length,
                   const std::string& volume, const std::atomic<bool>* stop, std::string* error);

}  // namespace shardix::scenario
