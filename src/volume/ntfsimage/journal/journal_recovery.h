// Recovery of a change to an image or device that a crash interrupted, before
// anything mounts it. A journal is played back only onto the state it was
// written for: every sector it names must hold what the interrupted commit
// found there or what it wrote. Otherwise nothing is changed and the journal
// is kept aside (renamed, never deleted), with a message that says what was
// found. When the volume is marked as being changed (image_journal.h) and no
// journal waits under its own name, the journal is looked for by the
// volume's identity beside the image, in SHARDIX_JOURNAL_DIR and in
// /var/lib/shardix, so that a hard link or a moved image finds it too.
#pragma once

#include <cstdint>
#include <string>

namespace shardix::ntfsimage {

// The journal file for the image or device at `canonical`: beside an image
// file, in the folder SHARDIX_JOURNAL_DIR names when set, and for devices
// in /var/lib/shardix (Windows: %ProgramData%\Shardix).
std::string JournalPathFor(const std::string& canonical);
// False when SHARDIX_JOURNAL=off (measurements only).
bool JournalEnabled();

struct RecoveryOutcome {
  bool was_pending = false;  // a commit was found interrupted
  bool rolled_back = false;
  std::string files;         // the files whose moves were undone
  uint64_t moves = 0;
  uint64_t bytes_restored = 0;
  std::string journal;       // the journal played back or kept aside
  std::string problem;       // why a pending journal was not played back
  // The volume is marked as being changed and no journal for it was found:
  // nothing may be written to it; `problem` says where we looked.
  bool interrupted = false;
};

// Plays back a pending journal of `canonical` before anything mounts it.
// Returns 0 (also when nothing was pending, and when `interrupted` is set),
// ERROR_JOURNAL_KEPT_ASIDE (kErrorJournalKeptAside) when a journal did not
// fit the image and was kept aside, or another Windows code. Says what it
// did through Notice (volume/notices.h). With `play_back` false it only looks (for an image in use
// elsewhere).
uint32_t RecoverJournal(const std::string& canonical, RecoveryOutcome* outcome,
                        bool play_back = true);
// The outcome as one line for people ("" when nothing was pending).
std::string RecoveryText(const std::string& image_name, const RecoveryOutcome& outcome);

}  // namespace shardix::ntfsimage
