// The undo journal that makes moves on images and devices all-or-nothing.
//
// Every write the library makes to the image is held in memory, except the
// data a move copies into its target clusters (free before the move, so
// nothing needs them back). A commit then
//   1. writes the old contents of every held range to the journal file
//      beside the image and flushes it,
//   2. writes the held ranges to the image and flushes the image,
//   3. marks the journal empty and flushes it.
// A crash before 1 completes leaves the image as it was; a crash after it
// leaves a journal that the next opener plays back, which restores the
// image to the last commit (RecoverJournal). The moves of up to one group
// window (100 ms) share a commit; a move whose target was not yet free at
// the last commit commits the group first, so a copy never lands on
// clusters a rollback would give back to their file.
//
// Journal file: a header (magic, sizes, CRC-32s, the CRC-32 of the image's
// boot sector so that a journal is never played onto another volume, the
// names of the files moved) and records {offset, length, old bytes}, host
// byte order. A header that does not check out means nothing is pending.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "volume/ntfsimage/journal/journal_file.h"

struct ntfs_device;

namespace shardix::ntfsimage {

class ImageJournal {
 public:
  // `inner` is the library's own device on the image, opened by the caller.
  // With `enabled` false every write goes straight through and nothing is
  // flushed (for measuring what the journal costs).
  ImageJournal(ntfs_device* inner, std::string journal_path, bool enabled);
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
  // Commits and removes the journal file; for the end of a mount.
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
  void ResetGroup();

  ntfs_device* inner_;
  std::string journal_path_;
  bool enabled_;
  bool failed_ = false;
  bool sealed_ = false;  // after AbandonMove
  JournalFile file_;
  bool file_made_ = false;
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

// The journal file for the image or device at `canonical`: beside an image
// file, in the folder SHARDIX_JOURNAL_DIR names when set, and for devices
// in /var/lib/shardix (Windows: %ProgramData%\Shardix).
std::string JournalPathFor(const std::string& canonical);
// False when SHARDIX_JOURNAL=off (measurements only).
bool JournalEnabled();

struct RecoveryOutcome {
  bool was_pending = false;  // a journal with undo records was found
  bool rolled_back = false;
  std::string files;         // the files whose moves were undone
  uint64_t moves = 0;
  uint64_t bytes_restored = 0;
  std::string problem;       // why a pending journal was not played back
};

// Plays back a pending journal of `canonical` before anything mounts it.
// Returns 0 (also when nothing was pending) or a Windows code; prints
// "Recovered an interrupted move of ..." on stderr when it rolled back.
// With `play_back` false it only looks (for an image in use elsewhere).
uint32_t RecoverJournal(const std::string& canonical, RecoveryOutcome* outcome,
                        bool play_back = true);
// The outcome as one line for people ("" when nothing was pending).
std::string RecoveryText(const std::string& image_name, const RecoveryOutcome& outcome);

}  // namespace shardix::ntfsimage
