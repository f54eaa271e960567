// MBR and GPT tables around a scenario volume, and copying volumes into
// and out of disks without filling their holes.
#include "scenario/partition_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "scenario/content.h"

namespace shardix::scenario {

namespace {

constexpr uint32_t kGptEntries = 128;
constexpr uint32_t kGptEntryBytes = 128;
// "Microsoft basic data", as GPT stores it (the first three fields little-endian).
constexpr uint8_t kBasicDataType[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                        0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
constexpr char16_t kPartitionName[] = u"Basic data partition";

uint64_t Sectors(uint64_t bytes, uint32_t sector_size) { return (bytes + sector_size - 1) / sector_size; }
uint64_t EntrySectors(uint32_t sector_size) { return Sectors(uint64_t{kGptEntries} * kGptEntryBytes, sector_size); }
uint64_t VolumeSectors(const DiskShape& shape) { return Sectors(shape.volume_bytes, shape.sector_size); }
uint64_t FirstSector(const DiskShape& shape) { return shape.offset / shape.sector_size; }

void Put(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Crc(const uint8_t* bytes, std::size_t count) {
  return static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), bytes, static_cast<uInt>(count)));
}

// A random (version 4) GUID in GPT's byte order, drawn from the seed.
void Guid(ScenarioRandom& random, uint8_t* out) {
  Put(out, random.Next(), 8);
  Put(out + 8, random.Next(), 8);
  out[7] = static_cast<uint8_t>((out[7] & 0x0F) | 0x40);
  out[8] = static_cast<uint8_t>((out[8] & 0x3F) | 0x80);
}

// Cylinder, head and sector of an LBA as BIOSes count them (255 heads, 63
// sectors); past their reach, the largest value, as partitioners write it.
void Chs(uint64_t lba, uint8_t* out) {
  const uint64_t cylinder = lba / (255 * 63), head = (lba / 63) % 255, sector = lba % 63 + 1;
  if (cylinder > 1023) {
    out[0] = 0xFE, out[1] = 0xFF, out[2] = 0xFF;
    return;
  }
  out[0] = static_cast<uint8_t>(head);
  out[1] = static_cast<uint8_t>(sector | ((cylinder >> 2) & 0xC0));
  out[2] = static_cast<uint8_t>(cylinder);
}

void MbrEntry(uint8_t* sector0, uint8_t type, uint64_t first, uint64_t count) {
  uint8_t* entry = sector0 + 446;
  Chs(first, entry + 1);
  entry[4] = type;
  Chs(first + count - 1, entry + 5);
  Put(entry + 8, first, 4);
  Put(entry + 12, std::min<uint64_t>(count, 0xFFFFFFFFu), 4);
  sector0[510] = 0x55;
  sector0[511] = 0xAA;
}

// The entries array, and a header (the primary one at sector 1, the backup
// at the disk's last sector) over it.
std::vector<uint8_t> GptEntries(const DiskShape& shape, ScenarioRandom& random) {
  std::vector<uint8_t> entries(EntrySectors(shape.sector_size) * shape.sector_size, 0);
  std::memcpy(entries.data(), kBasicDataType, 16);
  Guid(random, entries.data() + 16);
  Put(entries.data() + 32, FirstSector(shape), 8);
  Put(entries.data() + 40, FirstSector(shape) + VolumeSectors(shape) - 1, 8);
  for (std::size_t i = 0; kPartitionName[i]; ++i) Put(entries.data() + 56 + 2 * i, kPartitionName[i], 2);
  return entries;
}

std::vector<uint8_t> GptHeader(const DiskShape& shape, const uint8_t* disk_guid, uint32_t entries_crc,
                               bool backup) {
  const uint64_t last = DiskBytes(shape) / shape.sector_size - 1;
  const uint64_t entry_sectors = EntrySectors(shape.sector_size);
  std::vector<uint8_t> header(shape.sector_size, 0);
  uint8_t* h = header.data();
  std::memcpy(h, "EFI PART", 8);
  Put(h + 8, 0x00010000, 4);
  Put(h + 12, 92, 4);
  Put(h + 24, backup ? last : 1, 8);
  Put(h + 32, backup ? 1 : last, 8);
  Put(h + 40, 2 + entry_sectors, 8);
  Put(h + 48, last - entry_sectors - 1, 8);
  std::memcpy(h + 56, disk_guid, 16);
  Put(h + 72, backup ? last - entry_sectors : 2, 8);
  Put(h + 80, kGptEntries, 4);
  Put(h + 84, kGptEntryBytes, 4);
  Put(h + 88, entries_crc, 4);
  Put(h + 16, Crc(h, 92), 4);
  return header;
}

struct Gpt {
  uint8_t disk_guid[16];
  std::vector<uint8_t> entries;
  uint32_t entries_crc;
};

Gpt MakeGpt(const DiskShape& shape) {
  Gpt gpt;
  ScenarioRandom random(shape.seed ^ 0xD15C6C7Bull);
  Guid(random, gpt.disk_guid);
  gpt.entries = GptEntries(shape, random);
  gpt.entries_crc = Crc(gpt.entries.data(), std::size_t{kGptEntries} * kGptEntryBytes);
  return gpt;
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

bool Fail(const std::string& what, const std::string& file, std::string* error, int code = errno) {
  *error = what + " " + file + " failed: " + std::strerror(code);
  return false;
}

bool WriteAll(int fd, const uint8_t* bytes, std::size_t count, uint64_t at) {
  while (count > 0) {
    const ssize_t put = ::pwrite(fd, bytes, count, static_cast<off_t>(at));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put, count -= static_cast<std::size_t>(put), at += static_cast<uint64_t>(put);
  }
  return true;
}

// Copies what `in` holds of [from, from + length) to `out` at `to`: only
// the stretches the file system says hold data, and of those only the
// pieces that are not all zeros, so `out` (already of its full size) keeps
// its holes.
bool CopyData(int in, const std::string& in_name, uint64_t from, uint64_t length, int out,
              const std::string& out_name, uint64_t to, const std::atomic<bool>* stop, std::string* error) {
  constexpr std::size_t kPiece = 1u << 20;
  std::vector<uint8_t> buffer(kPiece);
  const uint64_t end = from + length;
  for (uint64_t at = from; at < end;) {
    off_t data = ::lseek(in, static_cast<off_t>(at), SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    if (data < 0) data = static_cast<off_t>(at);
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    const uint64_t stretch_end = std::min<uint64_t>(end, hole < 0 ? end : static_cast<uint64_t>(hole));
    for (at = static_cast<uint64_t>(data); at < stretch_end;) {
      if (stop && stop->load()) {
        *error = "stopped while copying " + in_name;
        return false;
      }
      const auto want = static_cast<std::size_t>(std::min<uint64_t>(kPiece, stretch_end - at));
      const ssize_t got = ::pread(in, buffer.data(), want, static_cast<off_t>(at));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return Fail("reading", in_name, error);
      if (got == 0) return true;  // the file ends before the length asked: the rest reads as zeros
      const auto count = static_cast<std::size_t>(got);
      const bool zeros = std::all_of(buffer.begin(), buffer.begin() + got, [](uint8_t b) { return b == 0; });
      if (!zeros && !WriteAll(out, buffer.data(), count, to + (at - from))) return Fail("writing", out_name, error);
      at += count;
    }
  }
  return true;
}

// NTFS keeps, in its boot sector and the backup of it, the sectors that
// lie before the volume on its disk.
bool SetHiddenSectors(int fd, const std::string& name, const DiskShape& shape, std::string* error) {
  std::vector<uint8_t> sector(shape.sector_size);
  const auto read_at = [&](uint64_t at) {
    return ::pread(fd, sector.data(), sector.size(), static_cast<off_t>(at)) == static_cast<ssize_t>(sector.size()) &&
           std::memcmp(sector.data() + 3, "NTFS    ", 8) == 0;
  };
  if (!read_at(shape.offset)) {
    *error = "the volume in " + name + " has no NTFS boot sector";
    return false;
  }
  uint64_t volume_sectors = 0;
  for (int i = 7; i >= 0; --i) volume_sectors = (volume_sectors << 8) | sector[0x28 + i];
  uint8_t hidden[4];
  Put(hidden, FirstSector(shape), 4);
  if (!WriteAll(fd, hidden, 4, shape.offset + 0x1C)) return Fail("writing", name, error);
  // The backup boot sector lies just past the sectors the volume counts.
  const uint64_t backup = shape.offset + volume_sectors * shape.sector_size;
  if (volume_sectors * shape.sector_size + shape.sector_size <= shape.volume_bytes && read_at(backup) &&
      !WriteAll(fd, hidden, 4, backup + 0x1C))
    return Fail("writing", name, error);
  return true;
}

}  // namespace

uint64_t SmallestOffset(const std::string& table, uint32_t sector_size) {
  return table == "gpt" ? (2 + EntrySectors(sector_size)) * sector_size : sector_size;
}

uint64_t DiskBytes(const DiskShape& shape) {
  uint64_t sectors = FirstSector(shape) + VolumeSectors(shape);
  if (shape.table == "gpt") sectors += EntrySectors(shape.sector_size) + 1;
  return sectors * shape.sector_size;
}

std::vector<uint8_t> TableHead(const DiskShape& shape) {
  std::vector<uint8_t> head(shape.offset, 0);
  const uint64_t disk_sectors = DiskBytes(shape) / shape.sector_size;
  if (shape.table != "gpt") {
    MbrEntry(head.data(), 0x07, FirstSector(shape), VolumeSectors(shape));
    Put(head.data() + 440, ScenarioRandom(shape.seed ^ 0xD15C6C7Bull).Next(), 4);  // disk signature
    return head;
  }
  MbrEntry(head.data(), 0xEE, 1, disk_sectors - 1);  // protective: the whole disk is GPT's
  const Gpt gpt = MakeGpt(shape);
  const std::vector<uint8_t> header = GptHeader(shape, gpt.disk_guid, gpt.entries_crc, false);
  std::memcpy(head.data() + shape.sector_size, header.data(), header.size());
  std::memcpy(head.data() + 2 * shape.sector_size, gpt.entries.data(), gpt.entries.size());
  return head;
}

std::vector<uint8_t> TableTail(const DiskShape& shape) {
  if (shape.table != "gpt") return {};
  const Gpt gpt = MakeGpt(shape);
  std::vector<uint8_t> tail = gpt.entries;
  const std::vector<uint8_t> header = GptHeader(shape, gpt.disk_guid, gpt.entries_crc, true);
  tail.insert(tail.end(), header.begin(), header.end());
  return tail;
}

bool WriteDisk(const std::string& volume, const std::string& disk, const DiskShape& shape,
               const std::atomic<bool>* stop, std::string* error) {
  Fd in, out;
  in.fd = ::open(volume.c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) return Fail("opening", volume, error);
  out.fd = ::open(disk.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out.fd < 0) return Fail("making", disk, error);
  if (::ftruncate(out.fd, static_cast<off_t>(DiskBytes(shape))) != 0) return Fail("sizing", disk, error);
  const std::vector<uint8_t> head = TableHead(shape), tail = TableTail(shape);
  // The zeros up to the partition stay a hole.
  std::size_t used = head.size();
  while (used > 0 && head[used - 1] == 0) --used;
  used = std::min<std::size_t>(head.size(), Sectors(used, shape.sector_size) * shape.sector_size);
  if (!WriteAll(out.fd, head.data(), used, 0) ||
      !WriteAll(out.fd, tail.data(), tail.size(), DiskBytes(shape) - tail.size()))
    return Fail("writing", disk, error);
  if (!CopyData(in.fd, volume, 0, shape.volume_bytes, out.fd, disk, shape.offset, stop, error) ||
      !SetHiddenSectors(out.fd, disk, shape, error))
    return false;
  const int closed = ::close(out.fd);
  out.fd = -1;
  return closed == 0 || Fail("writing", disk, error);
}

bool WrapVolumeInDisk(const std::string& image, const DiskShape& shape, const std::atomic<bool>* stop,
                      std::string* error) {
  const std::string volume = image + ".volume";
  if (::rename(image.c_str(), volume.c_str()) != 0) return Fail("renaming", image, error);
  const bool written = WriteDisk(volume, image, shape, stop, error);
  ::unlink(volume.c_str());
  return written;
}

std::string TableDifference(const std::string& disk, const DiskShape& shape) {
  Fd in;
  in.fd = ::open(disk.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat facts {};
  if (in.fd < 0 || ::fstat(in.fd, &facts) != 0) return "cannot read it: " + std::string(std::strerror(errno));
  if (static_cast<uint64_t>(facts.st_size) != DiskBytes(shape))
    return std::to_string(facts.st_size) + " bytes, not " + std::to_string(DiskBytes(shape));
  const auto same = [&](const std::vector<uint8_t>& want, uint64_t at) {
    std::vector<uint8_t> got(want.size());
    return ::pread(in.fd, got.data(), got.size(), static_cast<off_t>(at)) == static_cast<ssize_t>(got.size()) &&
           got == want;
  };
  const std::vector<uint8_t> tail = TableTail(shape);
  if (!same(TableHead(shape), 0)) return "the table before the volume differs";
  if (!same(tail, DiskBytes(shape) - tail.size())) return "the backup table after the volume differs";
  return "";
}

bool ExtractVolume(const std::string& disk, uint64_t offset, uint64_t length, const std::string& volume,
                   const std::atomic<bool>* stop, std::string* error) {
  Fd in, out;
  in.fd = ::open(disk.c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) return Fail("opening", disk, error);
  struct stat facts {};
  if (::fstat(in.fd, &facts) != 0) return Fail("reading", disk, error);
  if (static_cast<uint64_t>(facts.st_size) < offset + length) {
    *error = disk + " ends at " + std::to_string(facts.st_size) + " bytes, before the volume's end at " +
             std::to_string(offset + length);
    return false;
  }
  out.fd = ::open(volume.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out.fd < 0) return Fail("making", volume, error);
  if (::ftruncate(out.fd, static_cast<off_t>(length)) != 0) return Fail("sizing", volume, error);
  if (!CopyData(in.fd, disk, offset, length, out.fd, volume, 0, stop, error)) return false;
  const int closed = ::close(out.fd);
  out.fd = -1;
  return closed == 0 || Fail("writing", volume, error);
}

}  // namespace shardix::scenario
