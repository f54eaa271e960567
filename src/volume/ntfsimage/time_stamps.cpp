#include "volume/ntfsimage/time_stamps.h"

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include "volume/error_codes.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

extern "C" {
#include <ntfs-3g/ntfstime.h>
}

namespace shardix::ntfsimage {

namespace {

// The stamps written during the build lie between two instants; what else
// lies on 8-byte boundaries of these structures (sizes, record numbers,
// sequence numbers) never reads as a time of this century.
struct Window {
  int64_t first = 0, last = 0, pinned = 0;

  // Pins every stamp in [bytes, bytes + length) that the window holds;
  // true when one changed.
  bool PinWords(uint8_t* bytes, std::size_t length) const {
    bool changed = false;
    for (std::size_t at = 0; at + 8 <= length; at += 8) {
      int64_t value = 0;
      std::memcpy(&value, bytes + at, 8);
      value = sle64_to_cpu(value);
      if (value < first || value > last) continue;
      const int64_t stamp = cpu_to_sle64(pinned);
      std::memcpy(bytes + at, &stamp, 8);
      changed = true;
    }
    return changed;
  }
};

int64_t NtfsTime(int64_t unix_seconds) {
  return sle64_to_cpu(timespec2ntfs(timespec{static_cast<time_t>(unix_seconds), 0}));
}

// The record's standard information, names and index root, attribute by
// attribute within the record's bounds, and the space past its last
// attribute, where attributes moved or shrunk leave their old bytes.
bool PinRecord(MFT_RECORD* m, uint32_t record_size, const Window& window) {
  bool changed = false;
  auto* bytes = reinterpret_cast<uint8_t*>(m);
  const uint32_t used = std::min<uint32_t>(le32_to_cpu(m->bytes_in_use), record_size);
  for (uint32_t at = le16_to_cpu(m->attrs_offset); at + 16 <= used;) {
    auto* attr = reinterpret_cast<ATTR_RECORD*>(bytes + at);
    const uint32_t length = le32_to_cpu(attr->length);
    if (attr->type == AT_END || length < 16 || at + length > used) break;
    if (!attr->non_resident &&
        (attr->type == AT_STANDARD_INFORMATION || attr->type == AT_FILE_NAME || attr->type == AT_INDEX_ROOT)) {
      const uint32_t offset = le16_to_cpu(attr->value_offset), size = le32_to_cpu(attr->value_length);
      if (offset % 8 == 0 && offset + size <= length) changed |= window.PinWords(bytes + at + offset, size);
    }
    at += length;
  }
  const uint32_t slack = (used + 7) & ~7u;
  if (slack < record_size) changed |= window.PinWords(bytes + slack, record_size - slack);
  return changed;
}

// The index blocks of a folder in use, the unused space after their entries
// included: it keeps the entries of names deleted since.
uint32_t PinIndexBlocks(ntfs_volume* vol, uint64_t record, const Window& window, std::string* error) {
  errno = 0;
  ntfs_inode* ni = ntfs_inode_open(vol, record);
  if (!ni) return ReportFailure(CodeFromErrno(errno), "Opening MFT record " + std::to_string(record), error);
  uint32_t result = kErrorSuccess;
  errno = 0;
  ntfs_attr* na = ntfs_attr_open(ni, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4);
  if (!na && errno != ENOENT)
    result = ReportFailure(CodeFromErrno(errno), "Opening the index of MFT record " + std::to_string(record), error);
  if (na) {
    const uint32_t block = vol->indx_record_size;
    std::vector<uint8_t> bytes(block);
    for (s64 pos = 0; result == kErrorSuccess && pos + block <= na->initialized_size; pos += block) {
      // A block never written reads with broken fixups: nothing in it.
      if (ntfs_attr_mst_pread(na, pos, 1, block, bytes.data()) != 1 || !ntfs_is_indx_recordp(bytes.data()))
        continue;
      if (!window.PinWords(bytes.data() + 0x18, block - 0x18)) continue;
      errno = 0;
      if (ntfs_attr_mst_pwrite(na, pos, 1, block, bytes.data()) != 1)
        result = ReportFailure(CodeFromErrno(errno), "Writing the index of MFT record " + std::to_string(record), error);
    }
    ntfs_attr_close(na);
  }
  errno = 0;
  if (ntfs_inode_close(ni) != 0 && result == kErrorSuccess)
    result = ReportFailure(CodeFromErrno(errno), "Closing MFT record " + std::to_string(record), error);
  return result;
}

// Where the image file holds data from `pos` on (all of it where the system
// cannot say): free space never written is a hole, and holes hold no index.
s64 NextData(int fd, s64 pos, s64 end) {
#if defined(__linux__) && defined(SEEK_DATA)
  if (fd >= 0) {
    const off_t data = lseek(fd, static_cast<off_t>(pos), SEEK_DATA);
    return data < 0 ? end : std::min<s64>(data, end);
  }
#endif
  (void)fd, (void)end;
  return pos;
}

// Index blocks left in free clusters: those of deleted folders (whose
// records may have been taken by other files since) and those a folder's
// index gave up. Blocks start on clusters, or on block boundaries inside
// clusters larger than a block.
uint32_t PinFreeIndexBlocks(ntfs_volume* vol, const Window& window, std::string* error) {
  const uint32_t block = vol->indx_record_size, cluster = vol->cluster_size;
  const uint32_t step = std::min(block, cluster);
  std::vector<u8> bitmap(static_cast<std::size_t>((vol->nr_clusters + 7) / 8));
  errno = 0;
  if (ntfs_attr_pread(vol->lcnbmp_na, 0, static_cast<s64>(bitmap.size()), bitmap.data()) !=
      static_cast<s64>(bitmap.size()))
    return ReportFailure(CodeFromErrno(errno), "Reading the cluster bitmap", error);
  const auto in_use = [&](s64 lcn) { return (bitmap[static_cast<std::size_t>(lcn >> 3)] >> (lcn & 7)) & 1; };
  int fd = -1;
#if defined(__linux__)
  fd = open(vol->dev->d_name, O_RDONLY);
#endif
  const s64 end = vol->nr_clusters * cluster;
  constexpr s64 kChunk = s64{1} << 20;
  std::vector<u8> chunk(static_cast<std::size_t>(kChunk)), buffer(block);
  uint32_t result = kErrorSuccess;
  for (s64 pos = NextData(fd, 0, end); result == kErrorSuccess && pos < end;) {
    pos -= pos % kChunk;
    const s64 length = std::min(kChunk, end - pos);
    if (ntfs_pread(vol->dev, pos, length, chunk.data()) != length) break;  // past what the image holds
    for (s64 at = 0; result == kErrorSuccess && at + step <= length; at += step) {
      const s64 where = pos + at;
      if (where + block > end || std::memcmp(chunk.data() + at, "INDX", 4) != 0) continue;
      bool free_space = true;
      for (s64 lcn = where / cluster; free_space && lcn * cluster < where + block; ++lcn) free_space = !in_use(lcn);
      if (!free_space || ntfs_mst_pread(vol->dev, where, 1, block, buffer.data()) != 1 ||
          !window.PinWords(buffer.data() + 0x18, block - 0x18))
        continue;
      errno = 0;
      if (ntfs_mst_pwrite(vol->dev, where, 1, block, buffer.data()) != 1)
        result = ReportFailure(CodeFromErrno(errno), "Writing an index block in free space", error);
    }
    pos = NextData(fd, pos + length, end);
  }
#if defined(__linux__)
  if (fd >= 0) close(fd);
#endif
  return result;
}

}  // namespace

uint32_t PinTimeStamps(ntfs_volume* vol, int64_t since, int64_t pinned, std::string* error) {
  const Window window{NtfsTime(since), NtfsTime(static_cast<int64_t>(std::time(nullptr)) + 1), NtfsTime(pinned)};
  const uint32_t record_size = vol->mft_record_size;
  const uint64_t records = static_cast<uint64_t>(vol->mft_na->initialized_size >> vol->mft_record_size_bits);
  std::vector<uint8_t> bytes(record_size);
  auto* m = reinterpret_cast<MFT_RECORD*>(bytes.data());
  // Free space first, read before this pass writes anything; then the
  // folders' index blocks: opening a folder reads its record, which the last
  // pass then changes under no open inode.
  if (const uint32_t code = PinFreeIndexBlocks(vol, window, error)) return code;
  for (uint64_t record = 0; record < records; ++record) {
    const s64 pos = static_cast<s64>(record) * record_size;
    if (ntfs_attr_mst_pread(vol->mft_na, pos, 1, record_size, bytes.data()) != 1 ||
        !ntfs_is_file_record(m->magic))
      continue;
    const bool folder_in_use = (m->flags & MFT_RECORD_IN_USE) && (m->flags & MFT_RECORD_IS_DIRECTORY) &&
                               m->base_mft_record == 0;
    if (folder_in_use)
      if (const uint32_t code = PinIndexBlocks(vol, record, window, error)) return code;
  }
  for (uint64_t record = 0; record < records; ++record) {
    const s64 pos = static_cast<s64>(record) * record_size;
    if (ntfs_attr_mst_pread(vol->mft_na, pos, 1, record_size, bytes.data()) != 1 ||
        !ntfs_is_file_record(m->magic) || !PinRecord(m, record_size, window))
      continue;
    errno = 0;
    if (ntfs_mft_record_write(vol, record, m) != 0)
      return ReportFailure(CodeFromErrno(errno), "Writing MFT record " + std::to_string(record), error);
  }
  return kErrorSuccess;
}

}  // namespace shardix::ntfsimage
