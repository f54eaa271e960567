// One read-write libntfs-3g mount of an image, shared by every file and
// volume handle opened on it in this process, and the files opened on it.
// Private to this folder: it includes the library's headers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <thread>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "volume/ntfsimage/journal/journal_device.h"
#include "volume/ntfsimage/preflight.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

class ImageMount;

// One MFT record opened on a mount. Every handle on the same record shares
// one of these, so the library never holds two diverging copies of it.
struct OpenedInode {
  std::shared_ptr<ImageMount> mount;
  ntfs_inode* ni = nullptr;
  // The stream whose clusters the handle reports and moves: the unnamed
  // $DATA of a file, the $I30 index allocation of a directory; null when the
  // record has none.
  ntfs_attr* stream = nullptr;
  bool owns_inode = true;    // false for the system files the mount keeps open
  bool owns_stream = true;
  bool directory = false;
  std::string path;  // inside the image, for messages
  // Element count of stream->rl as last counted, so that finding a VCN is a
  // binary search rather than a walk (see FindRun); reset when the runlist
  // is replaced.
  runlist_element* counted_rl = nullptr;
  size_t counted_runs = 0;

  OpenedInode() = default;
  OpenedInode(const OpenedInode&) = delete;
  OpenedInode& operator=(const OpenedInode&) = delete;
  ~OpenedInode();  // closes under the mount's lock
};

class ImageMount {
 public:
  ImageMount(const ImageMount&) = delete;
  ImageMount& operator=(const ImageMount&) = delete;

  ntfs_volume* volume() const { return volume_; }
  // Held around every call into the library for this mount.
  std::mutex& lock() { return lock_; }
  const std::string& image_path() const { return canonical_path_; }
  // The image's file name, shown to people.
  const std::string& display_name() const { return display_name_; }
  // Scratch space for copying clusters; use with lock() held.
  std::vector<uint8_t>& copy_buffer() { return copy_buffer_; }
  // Mounted read-only because something else has the image: nothing may
  // be moved (image_in_use.h).
  bool read_only() const { return device_->read_only; }
  // Why it is only read: something else has it, or it would not open for
  // writing (the errno; 0 when it was not tried).
  bool in_use() const { return in_use_; }
  int write_errno() const { return write_errno_; }
  // Why nothing may be moved on a read-only mount: ERROR_SHARING_VIOLATION
  // while in use, kErrorInterruptedChange while an interrupted change waits
  // for its journal (journal_recovery.h).
  uint32_t write_refusal() const { return write_refusal_; }
  // The journal every write goes through; use with lock() held.
  ImageJournal& journal() { return *device_->journal; }
  // The pre-flight and ownership map of moves on this mount; use with lock()
  // held.
  MoveGuard& move_guard() { return move_guard_; }

  // The first write-back failure met where no caller could be told (the
  // group commit in the background, a record written back as it closed),
  // handed to the next Close once; use with lock() held.
  void NoteWriteFailure(uint32_t code) {
    if (write_failure_ == 0) write_failure_ = code;
  }
  uint32_t TakeWriteFailure() { return std::exchange(write_failure_, 0u); }

  // Opens (or shares) the record at `inner_path`. Takes lock() itself.
  uint32_t OpenInode(const std::string& inner_path, std::shared_ptr<OpenedInode>* out);
  // Drops the entry of a record whose last handle went; lock() held.
  void ForgetInode(uint64_t mft_no);

 private:
  friend uint32_t AcquireMount(const std::string& image, std::shared_ptr<ImageMount>* out);
  friend struct MountCloser;
  ImageMount() = default;
  // Commits a group of moves left waiting once its window has passed, so
  // that moves finished before a pause never wait for the next move.
  void FlushLoop();
  uint32_t ResolvePath(const std::string& inner_path, uint64_t* mft_no);
  uint32_t OpenRecord(uint64_t mft_no, OpenedInode* opened);

  std::weak_ptr<ImageMount> self_;
  ntfs_volume* volume_ = nullptr;
  std::mutex lock_;
  std::string canonical_path_;
  std::string display_name_;
  uint32_t write_refusal_ = 0;
  std::map<uint64_t, std::weak_ptr<OpenedInode>> inodes_;
  std::vector<uint8_t> copy_buffer_;
  std::unique_ptr<JournaledDevice> device_;
  std::thread flusher_;
  std::mutex flusher_lock_;
  std::condition_variable flusher_wake_;
  bool stopping_ = false;
  MoveGuard move_guard_;
  uint32_t write_failure_ = 0;
  bool in_use_ = false;
  int write_errno_ = 0;
#ifdef _WIN32
  std::shared_ptr<void> image_lock_;  // image_lock.h; released after the unmount
#endif
};

// The process-wide mount of `image`, mounted on first use: read-write after
// playing back a pending journal, or read-only when the image is in use
// elsewhere (the front end warns).
uint32_t AcquireMount(const std::string& image, std::shared_ptr<ImageMount>* out);

// Every later mount of this process only reads (OpenImagesForReadingOnly).
void OpenImagesOnlyForReading();

// The path every handle on the same image agrees on; false when the image
// does not exist.
bool CanonicalImagePath(const std::string& image, std::string* canonical);

// True while this process holds a mount of `canonical_path`.
bool IsMountedHere(const std::string& canonical_path);

}  // namespace shardix::ntfsimage
