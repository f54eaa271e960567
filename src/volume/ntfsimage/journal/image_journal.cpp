#include "volume/ntfsimage/journal/image_journal.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "volume/error_codes.h"
#include "volume/unicode_text.h"
#include "volume/ntfsimage/journal/internal/journal_file.h"
#include "volume/ntfsimage/journal/internal/journal_format.h"
#include "volume/ntfsimage/journal/internal/volume_mark.h"
#include "volume/ntfsimage/journal/journal_recovery.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

ImageJournal::ImageJournal(ntfs_device* inner, std::string journal_path, std::string image_path,
                           bool enabled)
    : inner_(inner),
      journal_path_(std::move(journal_path)),
      image_path_(std::move(image_path)),
      enabled_(enabled),
      file_(std::make_unique<JournalFile>()) {}

ImageJournal::~ImageJournal() = default;

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
  const int err = file_->WriteAt(offset, bytes.data(), bytes.size());
  if (err == 0) Record(StorageTarget::kJournal, StorageOp::kWrite, offset, bytes.data(), bytes.size());
  return err;
}

int ImageJournal::JournalFlush() {
  const int err = file_->Flush();
  if (err == 0) Record(StorageTarget::kJournal, StorageOp::kSync);
  return err;
}

int ImageJournal::EnsureJournalFile() {
  if (file_->is_open()) return 0;
  std::error_code error;
  std::filesystem::create_directories(PathFromUtf8(journal_path_).parent_path(), error);
  if (int err = file_->Open(journal_path_, true)) return err;
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

void ImageJournal::ShowMark(uint8_t* bytes, int64_t count, int64_t offset, bool as_library) const {
  if (!volume_ || volume_->dirty) return;  // a flag we did not set is the library's to see
  for (const int64_t at : volume_->flag_bytes) {
    if (at < offset || at >= offset + count) continue;
    if (as_library) bytes[at - offset] &= static_cast<uint8_t>(~kDirtyBit);
    else bytes[at - offset] |= kDirtyBit;
  }
}

int64_t ImageJournal::Read(void* bytes, int64_t count, int64_t offset) {
  const int64_t got = ReadCommitted(bytes, count, offset);
  if (got <= 0) return got;
  auto* out = static_cast<uint8_t*>(bytes);
  for (auto it = held_.lower_bound(offset / kBlock); it != held_.end(); ++it) {
    const int64_t block_start = it->first * kBlock;
    if (block_start >= offset + got) break;
    const int64_t from = std::max(offset, block_start);
    const int64_t to = std::min(offset + got, block_start + kBlock);
    if (to > from) std::memcpy(out + (from - offset), it->second.bytes.data() + (from - block_start), to - from);
  }
  // The library keeps its own picture of $Volume: the mark is ours alone.
  if (marked_) ShowMark(out, got, offset, true);
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

int ImageJournal::LearnVolume() {
  if (volume_) return 0;
  auto identity = std::make_unique<VolumeIdentity>();
  const int err = ReadVolumeIdentity(
      [this](void* bytes, int64_t count, int64_t offset) {
        return DeviceReadWhole(inner_, bytes, count, offset);
      },
      identity.get());
  if (err) return err;
  if (!CanMark(*identity)) return EINVAL;  // no sound $Volume record to carry the mark
  volume_ = std::move(identity);
  return 0;
}

int ImageJournal::WriteMark(bool set) {
  if (volume_->dirty) return 0;  // not ours to set or clear
  for (const int64_t at : volume_->flag_bytes) {
    uint8_t sector[kSectorBytes];
    const int64_t start = SectorOf(at);
    if (int err = DeviceReadWhole(inner_, sector, kSectorBytes, start)) return err;
    if (set) sector[at - start] |= kDirtyBit;
    else sector[at - start] &= static_cast<uint8_t>(~kDirtyBit);
    if (int err = ImageWrite(sector, kSectorBytes, start)) return err;
  }
  return ImageSync();
}

int ImageJournal::Commit() { return CommitGroup(false); }

int ImageJournal::CommitGroup(bool last) {
  if (failed_) return EIO;
  if (!enabled_ || !HasUncommitted()) return 0;
  if (held_.empty()) {  // copies only, no metadata: just make them durable
    const int err = ImageSync();
    if (err == 0) ResetGroup();
    return err;
  }
  if (const int err = LearnVolume()) return err;

  // Runs of neighbouring blocks, each as it will be written: with the mark,
  // which stays on the image until the mount ends.
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
  for (Run& run : runs) ShowMark(run.now.data(), static_cast<int64_t>(run.now.size()), run.offset, false);

  // The anchor first (once per journal file), the commit header, then per
  // run its old bytes from the image and a CRC-32 per sector of the new.
  const int64_t write_at = anchored_ ? kCommitAt : 0;
  std::vector<uint8_t> journal(static_cast<size_t>(kPayloadAt - write_at));
  for (const Run& run : runs) {
    const RecordHead head{static_cast<uint64_t>(run.offset), run.now.size()};
    const size_t sectors = (run.now.size() + kSectorBytes - 1) / kSectorBytes;
    const size_t at = journal.size();
    journal.resize(at + sizeof head + head.length + sectors * sizeof(uint32_t));
    std::memcpy(journal.data() + at, &head, sizeof head);
    uint8_t* old_bytes = journal.data() + at + sizeof head;
    // Nothing written yet on failure: the group stays held.
    if (int err = DeviceReadWhole(inner_, old_bytes, static_cast<int64_t>(head.length), run.offset))
      return err;
    uint8_t* crcs = old_bytes + head.length;
    for (size_t sector = 0; sector < sectors; ++sector) {
      const size_t from = sector * kSectorBytes;
      const uint32_t crc = Crc32(run.now.data() + from, std::min<size_t>(kSectorBytes, run.now.size() - from));
      std::memcpy(crcs + sector * sizeof crc, &crc, sizeof crc);
    }
  }
  if (!anchored_) {
    JournalAnchor anchor{};
    std::memcpy(anchor.magic, kJournalMagic, sizeof kJournalMagic);
    anchor.anchor_size = sizeof anchor;
    anchor.version = kJournalVersion;
    anchor.serial = volume_->serial;
    anchor.boot_crc = volume_->boot_crc;
    anchor.cluster_count = volume_->cluster_count;
    anchor.was_dirty = volume_->dirty ? 1 : 0;
    anchor.flag_bytes[0] = volume_->flag_bytes[0];
    anchor.flag_bytes[1] = volume_->flag_bytes[1];
    anchor.path_size = static_cast<uint32_t>(std::min(image_path_.size(), sizeof anchor.path));
    std::memcpy(anchor.path, image_path_.data(), anchor.path_size);
    SealAnchor(&anchor);
    std::memcpy(journal.data(), &anchor, sizeof anchor);
  }
  std::string names;
  for (const std::string& name : moved_names_) names += (names.empty() ? "" : ", ") + name;
  if (moved_names_.size() >= 4) names += ", ...";
  CommitHeader commit{};
  std::memcpy(commit.magic, kCommitMagic, sizeof kCommitMagic);
  commit.state = kCommitPending;
  commit.record_count = static_cast<uint32_t>(runs.size());
  commit.sequence = commits_ + 1;
  commit.moves = moves_in_group_;
  commit.names_size = static_cast<uint32_t>(std::min(names.size(), sizeof commit.names));
  std::memcpy(commit.names, names.data(), commit.names_size);
  const size_t payload = static_cast<size_t>(kPayloadAt - write_at);
  commit.payload_size = journal.size() - payload;
  commit.payload_crc = Crc32(journal.data() + payload, commit.payload_size);
  SealCommit(&commit);
  std::memcpy(journal.data() + (kCommitAt - write_at), &commit, sizeof commit);

  // 1. The undo records, durable before the image changes.
  int err = 0;
  if ((err = EnsureJournalFile()) || (err = JournalWrite(write_at, journal)) || (err = JournalFlush()))
    return err;
  anchored_ = true;
  largest_journal_ = std::max<uint64_t>(largest_journal_, journal.size() + write_at);

  // 2. The mark, durable before the image's first change of this mount.
  if (!marked_) {
    if ((err = WriteMark(true))) {
      failed_ = true;
      return err;
    }
    marked_ = true;
  }

  // 3. The image.
  for (const Run& run : runs)
    if ((err = ImageWrite(run.now.data(), static_cast<int64_t>(run.now.size()), run.offset))) break;
  if (err == 0) err = ImageSync();
  if (err) {
    // The journal holds the way back; the next opener takes it.
    failed_ = true;
    return err;
  }

  // 4. Done, before the next group copies anything into clusters this
  // commit freed. The mount's last commit skips this flush: no group
  // follows it, and until the mark is cleared a rollback of it is as good.
  if (last) {
    ++commits_;
    ResetGroup();
    return 0;
  }
  commit.state = kCommitDone;
  SealCommit(&commit);
  const std::vector<uint8_t> done(reinterpret_cast<const uint8_t*>(&commit),
                                  reinterpret_cast<const uint8_t*>(&commit) + sizeof commit);
  if ((err = JournalWrite(kCommitAt, done)) || (err = JournalFlush())) {
    failed_ = true;
    return err;
  }
  ++commits_;
  ResetGroup();
  return 0;
}

int ImageJournal::Finish() {
  int err = CommitGroup(true);
  // The mark goes before the journal: a mark without its journal would
  // stop every later job.
  if (err == 0 && marked_) {
    err = WriteMark(false);
    if (err == 0) marked_ = false;
  }
  if (err == 0 && file_made_) {
    file_->Close();
    std::error_code error;
    std::filesystem::remove(PathFromUtf8(journal_path_), error);
    if (error) err = error.value();
    else Record(StorageTarget::kJournal, StorageOp::kRemove);
    FlushFolderOf(journal_path_);  // a removal lost to a power cut leaves a spent journal: harmless
    file_made_ = false;
    anchored_ = false;
  }
  return err;
}

}  // namespace shardix::ntfsimage
