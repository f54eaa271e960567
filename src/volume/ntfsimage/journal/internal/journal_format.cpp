#include "volume/ntfsimage/journal/internal/journal_format.h"

#include <atomic>
#include <cstddef>

#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

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

void SealAnchor(JournalAnchor* anchor) {
  anchor->crc = Crc32(reinterpret_cast<const uint8_t*>(anchor), offsetof(JournalAnchor, crc));
}

void SealCommit(CommitHeader* commit) {
  commit->crc = Crc32(reinterpret_cast<const uint8_t*>(commit), offsetof(CommitHeader, crc));
}

uint32_t JournalRecord::AfterCrc(size_t sector) const {
  uint32_t crc;
  std::memcpy(&crc, after_crcs + sector * sizeof crc, sizeof crc);
  return crc;
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

int DeviceReadWhole(ntfs_device* dev, void* bytes, int64_t count, int64_t offset) {
  int64_t got = 0;
  const int err = DevicePread(dev, bytes, count, offset, &got);
  return err ? err : got == count ? 0 : EIO;
}

namespace {

size_t SectorsOf(uint64_t length) { return static_cast<size_t>((length + kSectorBytes - 1) / kSectorBytes); }

bool AllZero(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (bytes[i]) return false;
  return true;
}

}  // namespace

void ParseJournal(const std::vector<uint8_t>& file, ParsedJournal* out) {
  *out = ParsedJournal{};
  const size_t head = std::min<size_t>(file.size(), sizeof(JournalAnchor));
  if (AllZero(file.data(), head)) return;  // kEmpty
  if (file.size() >= sizeof kOldJournalMagic &&
      std::memcmp(file.data(), kOldJournalMagic, sizeof kOldJournalMagic) == 0) {
    out->kind = ParsedJournal::kOldFormat;
    return;
  }
  out->kind = ParsedJournal::kForeign;
  if (file.size() < sizeof kJournalMagic || std::memcmp(file.data(), kJournalMagic, sizeof kJournalMagic) != 0)
    return;
  out->kind = ParsedJournal::kTornAnchor;
  if (file.size() < sizeof(JournalAnchor)) return;
  JournalAnchor& anchor = out->anchor;
  std::memcpy(&anchor, file.data(), sizeof anchor);
  if (Crc32(file.data(), offsetof(JournalAnchor, crc)) != anchor.crc) return;
  // A sealed anchor of another layout is no crash's work.
  out->kind = ParsedJournal::kForeign;
  if (anchor.anchor_size != sizeof anchor || anchor.version != kJournalVersion ||
      anchor.path_size > sizeof anchor.path || anchor.flag_bytes[0] < 0 || anchor.flag_bytes[1] < 0)
    return;

  out->kind = ParsedJournal::kTornCommit;
  if (file.size() < static_cast<size_t>(kPayloadAt)) return;
  CommitHeader& commit = out->commit;
  std::memcpy(&commit, file.data() + kCommitAt, sizeof commit);
  if (std::memcmp(commit.magic, kCommitMagic, sizeof kCommitMagic) != 0 ||
      Crc32(file.data() + kCommitAt, offsetof(CommitHeader, crc)) != commit.crc ||
      commit.names_size > sizeof commit.names ||
      (commit.state != kCommitPending && commit.state != kCommitDone) ||
      commit.payload_size > file.size() - kPayloadAt)
    return;
  const uint8_t* payload = file.data() + kPayloadAt;
  if (Crc32(payload, commit.payload_size) != commit.payload_crc) return;
  size_t at = 0;
  for (uint32_t i = 0; i < commit.record_count; ++i) {
    JournalRecord record{};
    if (commit.payload_size - at < sizeof record.head) return;
    std::memcpy(&record.head, payload + at, sizeof record.head);
    at += sizeof record.head;
    const uint64_t length = record.head.length;
    if (length > commit.payload_size || record.head.offset % kSectorBytes != 0) return;
    const uint64_t crcs = SectorsOf(length) * sizeof(uint32_t);
    if (commit.payload_size - at < length + crcs) return;
    record.old_bytes = payload + at;
    record.after_crcs = payload + at + length;
    at += length + crcs;
    out->records.push_back(record);
  }
  if (at == commit.payload_size) out->kind = ParsedJournal::kValid;
}

}  // namespace shardix::ntfsimage
