#include "volume/ntfsimage/journal/journal_format.h"

#include <atomic>

#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

constexpr size_t kBootBytes = 512;
std::mutex g_hooks_lock;
std::function<void(const StorageEvent&)> g_recorder;
std::atomic<int> g_group_window_ms{100};

}  // namespace

void SetStorageRecorder(std::function<void(const StorageEvent&)> recorder) {
  std::lock_guard<std::mutex> hold(g_hooks_lock);
  g_recorder = std::move(recorder);
}

void SetJournalGroupWindow(int milliseconds) { g_group_window_ms = std::max(milliseconds, 0); }

int GroupWindowMilliseconds() { return g_group_window_ms.load(); }

void Record(StorageTarget target, StorageOp op, int64_t offset, const void* bytes, size_t count) {
  std::lock_guard<std::mutex> hold(g_hooks_lock);
  if (!g_recorder) return;
  StorageEvent event;
  event.target = target;
  event.op = op;
  event.offset = offset;
  if (bytes) event.bytes.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + count);
  g_recorder(event);
}

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t HeaderCrc(JournalHeader header, const uint8_t* names) {
  header.header_crc = 0;
  const uint32_t crc = Crc32(reinterpret_cast<const uint8_t*>(&header), sizeof header);
  return Crc32(names, header.names_size, crc);
}

int DevicePread(ntfs_device* dev, void* bytes, int64_t count, int64_t offset, int64_t* got) {
  auto* at = static_cast<uint8_t*>(bytes);
  *got = 0;
  while (*got < count) {
    errno = 0;
    const s64 done = dev->d_ops->pread(dev, at + *got, count - *got, offset + *got);
    if (done < 0) return errno ? errno : EIO;
    if (done == 0) break;  // the end of the image
    *got += done;
  }
  return 0;
}

int DevicePwrite(ntfs_device* dev, const void* bytes, int64_t count, int64_t offset) {
  const auto* at = static_cast<const uint8_t*>(bytes);
  for (int64_t put = 0; put < count;) {
    errno = 0;
    const s64 done = dev->d_ops->pwrite(dev, at + put, count - put, offset + put);
    if (done <= 0) return errno ? errno : EIO;
    put += done;
  }
  return 0;
}

uint32_t BootCrc(ntfs_device* dev, int* err) {
  uint8_t boot[kBootBytes] = {};
  int64_t got = 0;
  *err = DevicePread(dev, boot, kBootBytes, 0, &got);
  if (*err == 0 && got != static_cast<int64_t>(kBootBytes)) *err = EIO;
  return Crc32(boot, kBootBytes);
}

bool ParseJournal(const std::vector<uint8_t>& file, ParsedJournal* out) {
  if (file.size() < sizeof(JournalHeader)) return false;
  JournalHeader& header = out->header;
  std::memcpy(&header, file.data(), sizeof header);
  if (std::memcmp(header.magic, kJournalMagic, sizeof kJournalMagic) != 0) return false;
  if (header.header_size != sizeof header + header.names_size || header.header_size > file.size())
    return false;
  const uint8_t* names = file.data() + sizeof header;
  if (HeaderCrc(header, names) != header.header_crc) return false;
  if (header.payload_size > file.size() - header.header_size) return false;
  const uint8_t* payload = file.data() + header.header_size;
  if (Crc32(payload, header.payload_size) != header.payload_crc) return false;
  out->names.assign(reinterpret_cast<const char*>(names), header.names_size);
  size_t at = 0;
  for (uint32_t i = 0; i < header.record_count; ++i) {
    RecordHead head;
    if (header.payload_size - at < sizeof head) return false;
    std::memcpy(&head, payload + at, sizeof head);
    at += sizeof head;
    if (header.payload_size - at < head.length) return false;
    out->records.emplace_back(head, payload + at);
    at += head.length;
  }
  return at == header.payload_size;
}

}  // namespace shardix::ntfsimage
