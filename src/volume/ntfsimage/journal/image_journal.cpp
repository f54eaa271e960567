#include "volume/ntfsimage/journal/image_journal.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "volume/error_codes.h"
#include "volume/unicode_text.h"
#include "volume/ntfsimage/journal/journal_format.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

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
  const std::string name = Utf8FromPath(PathFromUtf8(canonical).filename()) + tag + ".shardix-journal";
  if (const char* folder = std::getenv("SHARDIX_JOURNAL_DIR"); folder && *folder)
    return Utf8FromPath(fs::path(folder) / PathFromUtf8(name));
  std::error_code error;
  if (fs::is_regular_file(PathFromUtf8(canonical), error)) return canonical + ".shardix-journal";
#ifdef _WIN32
  const char* data = std::getenv("ProgramData");
  return Utf8FromPath(fs::path(data ? data : "C:\\ProgramData") / "Shardix" / PathFromUtf8(name));
#else
  return Utf8FromPath(fs::path("/var/lib/shardix") / PathFromUtf8(name));
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
  std::filesystem::create_directories(PathFromUtf8(journal_path_).parent_path(), error);
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
  if (failed_ || sealed_) {
    errno = failed_ ? EIO : EROFS;
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
    if (in_move_ && !before_move_.count(block))
      before_move_[block] = it == held_.end() ? std::nullopt : std::optional<Block>(it->second);
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
  in_move_ = true;
  before_move_.clear();
  ++moves_in_group_;
  if (moved_names_.size() < 4) moved_names_.insert(what);
}

void ImageJournal::EndMove() {
  direct_first_ = direct_end_ = 0;
  in_move_ = false;
  before_move_.clear();
}

int ImageJournal::AbandonMove() {
  if (!enabled_ || !in_move_) return ENOTSUP;
  for (auto& [block, before] : before_move_) {
    if (before) held_[block] = std::move(*before);
    else held_.erase(block);
  }
  EndMove();
  // The copy already on the image went to clusters free before the move.
  const int err = Commit();
  sealed_ = true;
  return err;
}

bool ImageJournal::CommitDue() const {
  if (failed_ || !HasUncommitted()) return false;
  const int window = GroupWindowMilliseconds();
  return window == 0 ||
         std::chrono::steady_clock::now() - group_start_ >= std::chrono::milliseconds(window);
}

void ImageJournal::ResetGroup() {
  held_.clear();
  direct_written_ = false;
  moved_names_.clear();
  moves_in_group_ = 0;
  committed_moves_ += made_in_group_;
  made_in_group_ = 0;
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
  std::memcpy(header.magic, kJournalMagic, sizeof kJournalMagic);
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
    std::filesystem::remove(PathFromUtf8(journal_path_), error);
    if (error) err = error.value();
    else Record(StorageTarget::kJournal, StorageOp::kRemove);
    FlushFolderOf(journal_path_);  // a removal lost to a power cut leaves an empty journal: harmless
    file_made_ = false;
  }
  return err;
}

}  // namespace shardix::ntfsimage
