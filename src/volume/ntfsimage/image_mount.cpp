#include "volume/ntfsimage/image_mount.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "volume/error_codes.h"
#include "volume/notices.h"
#include "volume/unicode_text.h"
#include "volume/ntfsimage/image_in_use.h"
#include "volume/ntfsimage/journal/journal_recovery.h"
#include "volume/image_path.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/volume_bounds.h"
#include "volume/ntfsimage/write_preflight.h"
#ifdef _WIN32
#include "volume/ntfsimage/image_lock.h"
#endif
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

// The mounts of this process by canonical image path. An entry whose mount
// has expired stays until that mount is written back, and a new mount of the
// same image waits for it: two mounts of one image must never overlap.
struct MountRegistry {
  std::mutex lock;
  std::condition_variable unmounted;
  std::map<std::string, std::weak_ptr<ImageMount>> mounts;
};

MountRegistry& Registry() {
  static MountRegistry registry;
  return registry;
}

std::atomic<bool>& ReadingOnly() {
  static std::atomic<bool> reading_only{false};
  return reading_only;
}

}  // namespace

// Runs when the last handle of a mount goes: writes everything back.
struct MountCloser {
  void operator()(ImageMount* mount) const {
    if (mount->flusher_.joinable()) {
      {
        std::lock_guard<std::mutex> hold(mount->flusher_lock_);
        mount->stopping_ = true;
      }
      mount->flusher_wake_.notify_all();
      mount->flusher_.join();
    }
    if (mount->volume_ && std::getenv("SHARDIX_JOURNAL_STATS"))
      Notice("journal: " + std::to_string(mount->journal().commits()) + " commits, largest " +
             std::to_string(mount->journal().largest_journal()) + " bytes");
    // What a job moved was committed, or its failure returned, by the
    // volume's Close; after a failed one nothing more is written.
    UnmountJournaled(mount->volume_, std::move(mount->device_));
    MountRegistry& registry = Registry();
    {
      std::lock_guard<std::mutex> hold(registry.lock);
      auto it = registry.mounts.find(mount->canonical_path_);
      if (it != registry.mounts.end() && it->second.expired()) registry.mounts.erase(it);
    }
    registry.unmounted.notify_all();
    delete mount;
  }
};

void OpenImagesOnlyForReading() { ReadingOnly().store(true); }

bool CanonicalImagePath(const std::string& image, std::string* canonical) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::canonical(PathFromUtf8(image), error);
  if (error) return false;
  *canonical = Utf8FromPath(path);
  return true;
}

bool IsMountedHere(const std::string& canonical_path) {
  MountRegistry& registry = Registry();
  std::lock_guard<std::mutex> hold(registry.lock);
  return registry.mounts.count(canonical_path) != 0;
}

uint32_t AcquireMount(const std::string& image, std::shared_ptr<ImageMount>* out) {
  out->reset();
  InstallLibraryLogHandler();
  if (const uint32_t refused = RefuseSpecialFile(image)) return refused;
  std::string canonical;
  if (!CanonicalImagePath(image, &canonical)) return kErrorFileNotFound;

  MountRegistry& registry = Registry();
  std::unique_lock<std::mutex> hold(registry.lock);
  for (;;) {
    auto it = registry.mounts.find(canonical);
    if (it == registry.mounts.end()) break;
    if (auto shared = it->second.lock()) {
      *out = std::move(shared);
      return kErrorSuccess;
    }
    registry.unmounted.wait(hold);  // the previous mount is still writing back
  }

  // Mounting under the registry lock keeps a second opener of the same
  // image from mounting it twice; other images wait briefly, which is fine.
  // Something else writing the image would see our changes under its feet
  // (and we its): then only read.
  const std::string in_use = InUseElsewhere(canonical);
  // An image that will not open for writing (a read-only file system, an
  // immutable file) is read; jobs on it are refused before their first move.
  const int write_errno =
      in_use.empty() && !ReadingOnly().load() ? ImageWriteErrno(canonical) : 0;
  bool read_only = !in_use.empty() || ReadingOnly().load() || write_errno != 0;
  uint32_t write_refusal = !in_use.empty() ? kErrorSharingViolation
                           : read_only     ? kErrorWriteProtect
                                           : kErrorSuccess;
  const std::string name = Utf8FromPath(PathFromUtf8(canonical).filename());
  // The front end says so (the command line warns on stderr).
  // A plan is made on the volume as it is; a job first rolls an interrupted
  // move back and may then place pieces elsewhere.
  if (ReadingOnly().load() && in_use.empty()) {
    std::error_code error;
    const std::string journal = JournalPathFor(canonical);
    if (std::filesystem::file_size(PathFromUtf8(journal), error) > 0 && !error)
      Notice("warning: " + name + " has an interrupted move waiting to be rolled back (" +
             journal + "): this plan is of the volume before that, and the job, which rolls "
             "it back first, may place pieces elsewhere; run shardix check " + canonical +
             " first");
  }
#ifdef _WIN32
  std::shared_ptr<void> image_lock;
  if (const uint32_t code = LockImage(canonical, !read_only, &image_lock)) return code;
#endif
  MountMode mode = !in_use.empty() ? MountMode::kReadWhileInUse
                  : read_only       ? MountMode::kRead
                                    : MountMode::kWrite;
  if (!read_only) {
    RecoveryOutcome recovered;
    if (const uint32_t code = RecoverJournal(canonical, &recovered)) return code;
    if (recovered.interrupted) {
      // Torn, and nothing to finish it with: read, never write.
      Notice("warning: " + RecoveryText(name, recovered));
      read_only = true;
      write_refusal = kErrorInterruptedChange;
      mode = MountMode::kRead;
    }
  }
  ntfs_volume* volume = nullptr;
  std::unique_ptr<JournaledDevice> device;
  if (const uint32_t code = MountJournaled(canonical, mode, &volume, &device)) return code;
  // The free counts are left unknown (the library then keeps them as it
  // goes only where it knows them) until the geometry is asked for: counting
  // reads the whole bitmap, 480 MiB on a 15 TiB volume, which a job that
  // tests a few windows of it should not pay for. What the mount itself
  // wrote is committed before anything is moved.
  if (!read_only) {
    if (const uint32_t code = CommitVolume(volume)) {
      UnmountJournaled(volume, std::move(device));
      return code;
    }
  }

  std::shared_ptr<ImageMount> mount(new ImageMount(), MountCloser());
  mount->volume_ = volume;
  mount->device_ = std::move(device);
  mount->canonical_path_ = canonical;
  mount->display_name_ = name;
  mount->in_use_ = !in_use.empty();
  mount->write_errno_ = write_errno;
  mount->write_refusal_ = write_refusal;
  mount->self_ = mount;
#ifdef _WIN32
  mount->image_lock_ = std::move(image_lock);
#endif
  registry.mounts[canonical] = mount;
  if (!read_only) mount->flusher_ = std::thread([raw = mount.get()] { raw->FlushLoop(); });
  *out = std::move(mount);
  return kErrorSuccess;
}

void ImageMount::FlushLoop() {
  std::unique_lock<std::mutex> waiting(flusher_lock_);
  while (!stopping_) {
    flusher_wake_.wait_for(waiting, std::chrono::milliseconds(50));
    if (stopping_) break;
    waiting.unlock();
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (journal().CommitDue()) {
        if (const uint32_t code = CommitVolume(volume_)) NoteWriteFailure(code);
      }
    }
    waiting.lock();
  }
}

OpenedInode::~OpenedInode() {
  if (!mount) return;
  std::lock_guard<std::mutex> hold(mount->lock());
  if (ni) mount->ForgetInode(ni->mft_no);
  if (stream && owns_stream) ntfs_attr_close(stream);
  if (ni && owns_inode && ntfs_inode_close(ni) != 0) mount->NoteWriteFailure(CodeFromErrno(errno));
}

void ImageMount::ForgetInode(uint64_t mft_no) {
  auto it = inodes_.find(mft_no);
  if (it != inodes_.end() && it->second.expired()) inodes_.erase(it);
}

uint32_t ImageMount::ResolvePath(const std::string& inner_path, uint64_t* mft_no) {
  if (inner_path.empty() || inner_path[0] != '/') return kErrorBadPathname;
  std::string path = inner_path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path == "/") {
    *mft_no = FILE_root;
    return kErrorSuccess;
  }
  const size_t slash = path.rfind('/');
  const std::string parent_path = slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = path.substr(slash + 1);

  errno = 0;
  ntfs_inode* parent = ntfs_pathname_to_inode(volume_, nullptr, parent_path.c_str());
  if (!parent) return errno == ENOENT || errno == 0 ? kErrorPathNotFound : CodeFromErrno(errno);
  if (!(parent->mrec->flags & MFT_RECORD_IS_DIRECTORY)) {
    ntfs_inode_close(parent);
    return kErrorPathNotFound;
  }
  errno = 0;
  const u64 mref = ntfs_inode_lookup_by_mbsname(parent, name.c_str());
  const int lookup_err = errno;
  if (ntfs_inode_close(parent) != 0) return CodeFromErrno(errno);
  if (mref == static_cast<u64>(-1))
    return lookup_err == ENOENT || lookup_err == 0 ? kErrorFileNotFound : CodeFromErrno(lookup_err);
  *mft_no = MREF(mref);
  return kErrorSuccess;
}

uint32_t ImageMount::OpenRecord(uint64_t mft_no, OpenedInode* opened) {
  // The library keeps some system files open for the life of the mount; a
  // second copy of those records must not exist beside its own.
  ntfs_volume* vol = volume_;
  switch (mft_no) {
    case FILE_MFT:
      opened->ni = vol->mft_ni;
      opened->stream = vol->mft_na;
      break;
    case FILE_MFTMirr:
      opened->ni = vol->mftmirr_ni;
      opened->stream = vol->mftmirr_na;
      break;
    case FILE_Bitmap:
      opened->ni = vol->lcnbmp_ni;
      opened->stream = vol->lcnbmp_na;
      break;
    case FILE_Volume:
      opened->ni = vol->vol_ni;
      break;
    case FILE_Secure:
      opened->ni = vol->secure_ni;
      break;
    default:
      break;
  }
  if (opened->ni) {
    opened->owns_inode = false;
    opened->owns_stream = opened->stream == nullptr;
  } else {
    errno = 0;
    opened->ni = ntfs_inode_open(vol, static_cast<MFT_REF>(mft_no));
    if (!opened->ni) return CodeFromErrno(errno);
  }
  opened->directory = (opened->ni->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0;
  if (!opened->stream) {
    errno = 0;
    opened->stream = opened->directory
                         ? ntfs_attr_open(opened->ni, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4)
                         : ntfs_attr_open(opened->ni, AT_DATA, AT_UNNAMED, 0);
    // A record without the stream simply has no clusters to report.
    if (!opened->stream && errno != ENOENT) return CodeFromErrno(errno);
  }
  return kErrorSuccess;
}

uint32_t ImageMount::OpenInode(const std::string& inner_path, std::shared_ptr<OpenedInode>* out) {
  out->reset();
  std::shared_ptr<ImageMount> self = self_.lock();
  auto opened = std::make_shared<OpenedInode>();
  {
    std::lock_guard<std::mutex> hold(lock_);
    uint64_t mft_no = 0;
    uint32_t result = ResolvePath(inner_path, &mft_no);
    if (result != kErrorSuccess) return result;
    auto it = inodes_.find(mft_no);
    if (it != inodes_.end()) {
      if (auto shared = it->second.lock()) {
        *out = std::move(shared);
        return kErrorSuccess;
      }
    }
    opened->path = inner_path;
    result = OpenRecord(mft_no, opened.get());
    if (result != kErrorSuccess) {
      // Undo what was opened, without the lock the destructor would take.
      if (opened->stream && opened->owns_stream) ntfs_attr_close(opened->stream);
      if (opened->ni && opened->owns_inode) ntfs_inode_close(opened->ni);
      opened->stream = nullptr;
      opened->ni = nullptr;
      return result;
    }
    inodes_[mft_no] = opened;
  }
  opened->mount = std::move(self);  // the destructor locks only once this is set
  *out = std::move(opened);
  return kErrorSuccess;
}

}  // namespace shardix::ntfsimage
