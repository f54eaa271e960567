#include "volume/ntfsimage/image_journal.h"

#include <fcntl.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "volume/error_codes.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/storage_events.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

constexpr char kMagic[8] = {'S', 'H', 'X', 'J', 'R', 'N', 'L', '1'};
constexpr size_t kBootBytes = 512;

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

std::mutex g_hooks_lock;
std::function<void(const StorageEvent&)> g_recorder;
std::atomic<int> g_group_window_ms{100};

void Record(StorageTarget target, StorageOp op, int64_t offset = 0, const void* bytes = nullptr,
            size_t count = 0) {
  std::lock_guard<std::mutex> hold(g_hooks_lock);
  if (!g_recorder) return;
  StorageEvent event;
  event.target = target;
  event.op = op;
  event.offset = offset;
  if (bytes) event.bytes.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + count);
  g_recorder(event);
}

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0) {
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

// A journal read back: the header checks out and every record is whole.
struct ParsedJournal {
  JournalHeader header{};
  std::string names;
  std::vector<std::pair<RecordHead, const uint8_t*>> records;
};

bool ParseJournal(const std::vector<uint8_t>& file, ParsedJournal* out) {
  if (file.size() < sizeof(JournalHeader)) return false;
  JournalHeader& header = out->header;
  std::memcpy(&header, file.data(), sizeof header);
  if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0) return false;
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

}  // namespace

void SetStorageRecorder(std::function<void(const StorageEvent&)> recorder) {
  std::lock_guard<std::mutex> hold(g_hooks_lock);
  g_recorder = std::move(recorder);
}

void SetJournalGroupWindow(int milliseconds) { g_group_window_ms = std::max(milliseconds, 0); }

bool JournalEnabled() {
  const char* setting = std::getenv("SHARDIX_JOURNAL");
  return !(setting && std::string(setting) == "off");
}

std::string JournalPathFor(const std::string& canonical) {
  namespace fs = std::filesystem;
  // In a shared folder two images of the same name must not share a journal.
  char tag[16];
  std::snprintf(tag, sizeof tag, "-%08x", static_cast<unsigned>(Crc32(
      reinterpret_cast<const uint8_t*>(canonical.data()), canonical.size())));
  const std::string name = fs::path(canonical).filename().string() + tag + ".shardix-journal";
  if (const char* folder = std::getenv("SHARDIX_JOURNAL_DIR"); folder && *folder)
    return (fs::path(folder) / name).string();
  std::error_code error;
  if (fs::is_regular_file(canonical, error)) return canonical + ".shardix-journal";
#ifdef _WIN32
  const char* data = std::getenv("ProgramData");
  return (fs::path(data ? data : "C:\\ProgramData") / "Shardix" / name).string();
#else
  return (fs::path("/var/lib/shardix") / name).string();
#endif
}

ImageJournal::ImageJournal(ntfs_device* inner, std::string journal_path, bool enabled)
    : inner_(inner), journal_path_(std::move(journal_path)), enabled_(enabled) {}

int ImageJournal::ImageWrite(const void* bytes, int64_t count, int64_t offset) {
  const int err = DevicePwrite(inner_, bytes, count, offset);
  if (err == 0) Record(StorageTarget::kImage, StorageOp::kWrite, offset, bytes, static_cast<size_t>(count));
  return err;
}

int ImageJournal::ImageSync() {
  errno = 0;
  if (inner_->d_ops->sync(inner_) != 0) return errno ? errno : EIO;
  Record(StorageTarget::kImage, StorageOp::kSync);
  return 0;
}

int ImageJournal::JournalWrite(int64_t offset, const std::vector<uint8_t>& bytes) {
  const int err = file_.WriteAt(offset, bytes.data(), bytes.size());
  if (err == 0) Record(StorageTarget::kJournal, StorageOp::kWrite, offset, bytes.data(), bytes.size());
  return err;
}

int ImageJournal::JournalFlush() {
  const int err = file_.Flush();
  if (err == 0) Record(StorageTarget::kJournal, StorageOp::kSync);
  return err;
}

int ImageJournal::EnsureJournalFile() {
  if (file_.is_open()) return 0;
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(journal_path_).parent_path(), error);
  if (int err = file_.Open(journal_path_, true)) return err;
  file_made_ = true;
  // The file's name must outlast a power cut as surely as its contents.
  return FlushFolderOf(journal_path_);
}

int64_t ImageJournal::ReadCommitted(void* bytes, int64_t count, int64_t offset) {
  int64_t got = 0;
  if (const int err = DevicePread(inner_, bytes, count, offset, &got)) {
    errno = err;
    return -1;
  }
  return got;
}

int64_t ImageJournal::Read(void* bytes, int64_t count, int64_t offset) {
  const int64_t got = ReadCommitted(bytes, count, offset);
  if (got <= 0 || held_.empty()) return got;
  auto* out = static_cast<uint8_t*>(bytes);
  for (auto it = held_.lower_bound(offset / kBlock); it != held_.end(); ++it) {
    const int64_t block_start = it->first * kBlock;
    if (block_start >= offset + got) break;
    const int64_t from = std::max(offset, block_start);
    const int64_t to = std::min(offset + got, block_start + kBlock);
    if (to > from) std::memcpy(out + (from - offset), it->second.bytes.data() + (from - block_start), to - from);
  }
  return got;
}

int64_t ImageJournal::Write(const void* bytes, int64_t count, int64_t offset) {
  if (failed_) {
    errno = EIO;
    return -1;
  }
  if (count <= 0) return 0;
  const auto* in = static_cast<const uint8_t*>(bytes);
  const bool direct = !enabled_ || (offset >= direct_first_ && offset + count <= direct_end_);
  if (direct) {
    if (const int err = ImageWrite(bytes, count, offset)) {
      errno = err;
      return -1;
    }
    direct_written_ = enabled_;
  }
  // Held blocks take the bytes too, so that reads and the commit agree with
  // what went straight through.
  for (int64_t block = offset / kBlock; block * kBlock < offset + count; ++block) {
    const int64_t block_start = block * kBlock;
    auto it = held_.find(block);
    if (it == held_.end()) {
      if (direct) continue;
      Block fresh;
      fresh.bytes.assign(kBlock, 0);
      int64_t got = 0;
      if (const int err = DevicePread(inner_, fresh.bytes.data(), kBlock, block_start, &got)) {
        errno = err;
        return -1;
      }
      fresh.valid = static_cast<uint32_t>(got);
      it = held_.emplace(block, std::move(fresh)).first;
    }
    const int64_t from = std::max(offset, block_start);
    const int64_t to = std::min(offset + count, block_start + kBlock);
    std::memcpy(it->second.bytes.data() + (from - block_start), in + (from - offset), to - from);
    it->second.valid = std::max<uint32_t>(it->second.valid, static_cast<uint32_t>(to - block_start));
  }
  return count;
}

void ImageJournal::BeginMove(int64_t first_byte, int64_t end_byte, const std::string& what) {
  if (moves_in_group_ == 0 && held_.empty()) group_start_ = std::chrono::steady_clock::now();
  direct_first_ = first_byte;
  direct_end_ = end_byte;
  ++moves_in_group_;
  if (moved_names_.size() < 4) moved_names_.insert(what);
}

void ImageJournal::EndMove() { direct_first_ = direct_end_ = 0; }

bool ImageJournal::CommitDue() const {
  if (failed_ || !HasUncommitted()) return false;
  const int window = g_group_window_ms.load();
  return window == 0 ||
         std::chrono::steady_clock::now() - group_start_ >= std::chrono::milliseconds(window);
}

void ImageJournal::ResetGroup() {
  held_.clear();
  direct_written_ = false;
  moved_names_.clear();
  moves_in_group_ = 0;
}

int ImageJournal::Commit() {
  if (failed_) return EIO;
  if (!enabled_ || !HasUncommitted()) return 0;
  if (held_.empty()) {  // copies only, no metadata: just make them durable
    const int err = ImageSync();
    if (err == 0) ResetGroup();
    return err;
  }

  // Runs of neighbouring blocks, each with its old bytes from the image.
  struct Run {
    int64_t offset;
    std::vector<uint8_t> now;
  };
  std::vector<Run> runs;
  for (const auto& [number, block] : held_) {
    const int64_t start = number * kBlock;
    if (runs.empty() || runs.back().offset + static_cast<int64_t>(runs.back().now.size()) != start ||
        runs.back().now.size() % kBlock != 0)
      runs.push_back(Run{start, {}});
    runs.back().now.insert(runs.back().now.end(), block.bytes.begin(), block.bytes.begin() + block.valid);
  }

  std::string names;
  for (const std::string& name : moved_names_) names += (names.empty() ? "" : ", ") + name;
  if (moved_names_.size() >= 4) names += ", ...";
  std::vector<uint8_t> journal(sizeof(JournalHeader) + names.size());
  std::memcpy(journal.data() + sizeof(JournalHeader), names.data(), names.size());
  for (const Run& run : runs) {
    RecordHead head{static_cast<uint64_t>(run.offset), run.now.size()};
    const size_t at = journal.size();
    journal.resize(at + sizeof head + run.now.size());
    std::memcpy(journal.data() + at, &head, sizeof head);
    int64_t got = 0;
    int err = DevicePread(inner_, journal.data() + at + sizeof head, head.length, run.offset, &got);
    if (err == 0 && got != static_cast<int64_t>(head.length)) err = EIO;
    if (err) return err;  // nothing written yet: the group stays held
  }
  JournalHeader header{};
  std::memcpy(header.magic, kMagic, sizeof kMagic);
  header.names_size = static_cast<uint32_t>(names.size());
  header.header_size = static_cast<uint32_t>(sizeof header + names.size());
  header.record_count = static_cast<uint32_t>(runs.size());
  header.payload_size = journal.size() - header.header_size;
  header.payload_crc = Crc32(journal.data() + header.header_size, header.payload_size);
  header.moves = moves_in_group_;
  int err = 0;
  header.boot_crc = BootCrc(inner_, &err);
  if (err) return err;
  header.header_crc = HeaderCrc(header, journal.data() + sizeof header);
  std::memcpy(journal.data(), &header, sizeof header);

  // 1. The undo records, durable before the image changes.
  if ((err = EnsureJournalFile()) || (err = JournalWrite(0, journal)) || (err = JournalFlush()))
    return err;
  largest_journal_ = std::max<uint64_t>(largest_journal_, journal.size());

  // 2. The image.
  for (const Run& run : runs)
    if ((err = ImageWrite(run.now.data(), static_cast<int64_t>(run.now.size()), run.offset))) break;
  if (err == 0) err = ImageSync();
  if (err) {
    // The journal holds the way back; the next opener takes it.
    failed_ = true;
    return err;
  }

  // 3. Done: an empty header.
  const std::vector<uint8_t> empty(kBlock, 0);
  if ((err = JournalWrite(0, empty)) || (err = JournalFlush())) {
    failed_ = true;
    return err;
  }
  ++commits_;
  ResetGroup();
  return 0;
}

int ImageJournal::Finish() {
  int err = Commit();
  if (err == 0 && file_made_) {
    file_.Close();
    std::error_code error;
    std::filesystem::remove(journal_path_, error);
    if (error) err = error.value();
    else Record(StorageTarget::kJournal, StorageOp::kRemove);
    FlushFolderOf(journal_path_);  // a removal lost to a power cut leaves an empty journal: harmless
    file_made_ = false;
  }
  return err;
}

uint32_t RecoverJournal(const std::string& canonical, RecoveryOutcome* outcome, bool play_back) {
  *outcome = RecoveryOutcome{};
  const std::string path = JournalPathFor(canonical);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return kErrorSuccess;

  // The image's write lock first: while another Shardix has the image, its
  // journal is alive and not ours to read or remove.
  ntfs_device* dev = nullptr;
  if (play_back) {
    dev = ntfs_device_alloc(canonical.c_str(), 0, &SHARDIX_LIBRARY_IO_OPS, nullptr);
    if (!dev) return CodeFromErrno(errno);
    errno = 0;
    if (dev->d_ops->open(dev, O_RDWR) != 0) {
      const uint32_t code = MountFailureCode(errno, canonical);
      ntfs_device_free(dev);
      return code;
    }
  }
  auto release = [&dev]() -> int {
    if (!dev) return 0;
    const int failed = dev->d_ops->close(dev) != 0 ? (errno ? errno : EIO) : 0;
    ntfs_device_free(dev);
    dev = nullptr;
    return failed;
  };

  JournalFile file;
  std::vector<uint8_t> bytes;
  int err = file.Open(path, false);
  if (err == 0) err = file.ReadAll(&bytes);
  if (err) {
    release();
    return CodeFromErrno(err);
  }
  ParsedJournal journal;
  if (!ParseJournal(bytes, &journal)) {
    // Empty, or torn before its flush ended, when the image was not yet
    // touched: nothing to undo.
    file.Close();
    if (play_back) std::filesystem::remove(path, error);
    release();
    return kErrorSuccess;
  }
  outcome->was_pending = true;
  outcome->files = journal.names;
  outcome->moves = journal.header.moves;
  if (!play_back) {
    outcome->problem = "it is played back when the image is next opened for writing";
    return kErrorSuccess;
  }

  const uint32_t boot_crc = BootCrc(dev, &err);
  if (err == 0 && boot_crc != journal.header.boot_crc) {
    release();
    outcome->problem = "the journal " + path + " belongs to another volume; it is left in place";
    std::cerr << "Shardix: " << outcome->problem << "\n";
    return kErrorInvalidData;
  }
  for (const auto& [head, old_bytes] : journal.records) {
    if (err) break;
    err = DevicePwrite(dev, old_bytes, static_cast<int64_t>(head.length), static_cast<int64_t>(head.offset));
    if (err == 0) {
      Record(StorageTarget::kImage, StorageOp::kWrite, static_cast<int64_t>(head.offset), old_bytes, head.length);
      outcome->bytes_restored += head.length;
    }
  }
  if (err == 0 && dev->d_ops->sync(dev) != 0) err = errno ? errno : EIO;
  if (const int closed = release(); err == 0) err = closed;
  if (err) {
    outcome->problem = "playing back " + path + " failed: " + ErrorMessage(CodeFromErrno(err));
    return CodeFromErrno(err);
  }
  // Restored and on the disk: the journal has done its work.
  const std::vector<uint8_t> empty(512, 0);
  if ((err = file.WriteAt(0, empty.data(), empty.size())) == 0) err = file.Flush();
  file.Close();
  if (err == 0) {
    std::filesystem::remove(path, error);
    FlushFolderOf(path);
  }
  outcome->rolled_back = true;
  std::cerr << RecoveryText(std::filesystem::path(canonical).filename().string(), *outcome) << "\n";
  return kErrorSuccess;
}

std::string RecoveryText(const std::string& image_name, const RecoveryOutcome& outcome) {
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
