// The undo journal that makes moves on images and devices all-or-nothing.
//
// Every write the library makes to the image is held in memory, except the
// data a move copies into its target clusters (free before the move, so
// nothing needs them back). A commit then
//   1. writes the old contents of every held range, and a checksum per
//      sector of the new, to the journal file beside the image and flushes
//      it (the first commit of a mount then sets the volume's mark),
//   2. writes the held ranges to the image and flushes the image,
//   3. marks the commit done in the journal and flushes it.
// A crash before 1 completes leaves the image as it was; a crash after it
// leaves a journal that the next opener plays back, which restores the
// image to the last commit (RecoverJournal). Three flushes a commit; the
// mark costs one when a mount first writes, and clearing it at the end
// takes the place of the last commit's step 3. The moves of up to one group
// window (100 ms) share a commit; a move whose target was not yet free at
// the last commit commits the group first, so a copy never lands on
// clusters a rollback would give back to their file.
//
// While a mount may write, the volume itself says so: the journal sets
// NTFS's dirty flag ($Volume) with its first commit, before any image write,
// and clears it when the mount ends, so that an opener under any name knows
// a change may have been interrupted (journal_recovery.h). The journal file
// records the volume's identity and, per sector, a checksum of what the
// commit writes, so that recovery plays it back only onto the state it was
// written for (the format: internal/journal_format.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>


struct ntfs_device;

namespace shardix::ntfsimage {

class JournalFile;
struct VolumeIdentity;

class ImageJournal {
 public:
  // `inner` is the library's own device on the image, opened by the caller.
  // With `enabled` false every write goes straight through and nothing is
  // flushed (for measuring what the journal costs).
  // `image_path` is recorded in the journal (see journal_recovery.h).
  ImageJournal(ntfs_device* inner, std::string journal_path, std::string image_path, bool enabled);
  ~ImageJournal();
  ImageJournal(const ImageJournal&) = delete;
  ImageJournal& operator=(const ImageJournal&) = delete;

  // The library's reads and writes, in the manner of pread/pwrite: the
  // count or -1 with errno set.
  int64_t Read(void* bytes, int64_t count, int64_t offset);
  int64_t Write(const void* bytes, int64_t count, int64_t offset);
  // The image as of the last commit, ignoring what is held.
  int64_t ReadCommitted(void* bytes, int64_t count, int64_t offset);

  // Around one move: writes inside [first_byte, end_byte) go straight to
  // the image. `what` names the file for the recovery message.
  void BeginMove(int64_t first_byte, int64_t end_byte, const std::string& what);
  void EndMove();
  // For a move that failed half-way and could not be undone through the
  // library: drops the held writes it made, commits the moves before it,
  // and refuses every later write (EROFS), so that the image stays as it
  // was before the move, whatever the library still holds in memory.
  // 0 or an errno; ENOTSUP with the journal off.
  int AbandonMove();
  // A move went through; it counts as committed once its group is.
  void MoveMade() {
    if (enabled_) ++made_in_group_;
    else ++committed_moves_;
  }
  // After a close whose commit failed: the group is dropped and nothing
  // more reaches the image, so what the caller was told stays true.
  void GiveUp() { failed_ = true; }
  // A group is open and older than the group window.
  bool CommitDue() const;
  bool HasUncommitted() const { return !held_.empty() || direct_written_; }

  // 0 or an errno. After a failure the journal refuses every later write:
  // the library's picture of the volume no longer matches the image.
  int Commit();
  // Commits, clears the volume's mark and removes the journal file; for the
  // end of a mount.
  int Finish();

  uint64_t commits() const { return commits_; }
  uint64_t committed_moves() const { return committed_moves_; }
  uint64_t largest_journal() const { return largest_journal_; }

 private:
  struct Block {
    std::vector<uint8_t> bytes;  // kBlock bytes
    uint32_t valid = 0;          // bytes that exist on the image (the last block may be short)
  };
  static constexpr int64_t kBlock = 512;

  int ImageWrite(const void* bytes, int64_t count, int64_t offset);
  int ImageSync();
  int JournalWrite(int64_t offset, const std::vector<uint8_t>& bytes);
  int JournalFlush();
  int EnsureJournalFile();
  // Commit; `last` for the end of a mount (see Finish).
  int CommitGroup(bool last);
  void ResetGroup();
  // The volume's identity and where its mark lies, read once.
  int LearnVolume();
  // Sets (true) or clears the dirty bit on the image and flushes it.
  int WriteMark(bool set);
  // The dirty-flag bytes in [offset, offset + count) of `bytes` as the
  // library last saw them (true) or as the image holds them while marked.
  void ShowMark(uint8_t* bytes, int64_t count, int64_t offset, bool as_library) const;

  ntfs_device* inner_;
  std::string journal_path_;
  std::string image_path_;
  bool enabled_;
  bool failed_ = false;
  bool sealed_ = false;  // after AbandonMove
  std::unique_ptr<JournalFile> file_;
  bool file_made_ = false;
  bool anchored_ = false;  // the journal file holds this mount's anchor
  std::unique_ptr<VolumeIdentity> volume_;
  bool marked_ = false;    // the image carries the dirty bit we set
  std::map<int64_t, Block> held_;  // by block number
  int64_t direct_first_ = 0, direct_end_ = 0;
  bool direct_written_ = false;
  // Held blocks as the move in flight found them (nullopt: not held).
  bool in_move_ = false;
  std::map<int64_t, std::optional<Block>> before_move_;
  std::set<std::string> moved_names_;
  uint64_t moves_in_group_ = 0;
  uint64_t made_in_group_ = 0;
  uint64_t committed_moves_ = 0;
  std::chrono::steady_clock::time_point group_start_;
  uint64_t commits_ = 0;
  uint64_t largest_journal_ = 0;
};

}  // namespace shardix::ntfsimage
