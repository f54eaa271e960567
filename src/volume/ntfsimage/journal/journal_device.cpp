#include "volume/ntfsimage/journal/journal_device.h"
#include "volume/ntfsimage/journal/journal_recovery.h"
#include "volume/ntfsimage/volume_bounds.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "volume/error_codes.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

JournaledDevice& Wrapped(ntfs_device* dev) { return *static_cast<JournaledDevice*>(dev->d_private); }

// The library keeps its state flags (open, read-only, block device) on the
// device it was handed: mirror the inner device's.
void MirrorState(ntfs_device* dev) { dev->d_state = Wrapped(dev).inner->d_state; }

int OpOpen(ntfs_device* dev, int flags) {
  ntfs_device* inner = Wrapped(dev).inner;
  const int result = inner->d_ops->open(inner, flags);
  MirrorState(dev);
  return result;
}

int OpClose(ntfs_device* dev) {
  JournaledDevice& wrapped = Wrapped(dev);
  int err = wrapped.read_only ? 0 : wrapped.journal->Finish();
  const int result = wrapped.inner->d_ops->close(wrapped.inner);
  if (result != 0 && err == 0) err = errno ? errno : EIO;
  MirrorState(dev);
  if (err) {
    errno = err;
    return -1;
  }
  return 0;
}

s64 OpSeek(ntfs_device* dev, s64 offset, int whence) {
  ntfs_device* inner = Wrapped(dev).inner;
  return inner->d_ops->seek(inner, offset, whence);
}

// Plain reads serve only the library's probe of the device size.
s64 OpRead(ntfs_device* dev, void* buf, s64 count) {
  ntfs_device* inner = Wrapped(dev).inner;
  return inner->d_ops->read(inner, buf, count);
}

s64 OpWrite(ntfs_device*, const void*, s64) {
  errno = EOPNOTSUPP;  // every write the library makes on a mount is positioned
  return -1;
}

s64 OpPread(ntfs_device* dev, void* buf, s64 count, s64 offset) {
  return Wrapped(dev).journal->Read(buf, count, offset);
}

s64 OpPwrite(ntfs_device* dev, const void* buf, s64 count, s64 offset) {
  return Wrapped(dev).journal->Write(buf, count, offset);
}

int OpSync(ntfs_device* dev) {
  JournaledDevice& wrapped = Wrapped(dev);
  if (wrapped.read_only) return 0;
  if (const int err = wrapped.journal->Commit()) {
    errno = err;
    return -1;
  }
  return 0;
}

int OpStat(ntfs_device* dev, struct stat* buf) {
  ntfs_device* inner = Wrapped(dev).inner;
  return inner->d_ops->stat(inner, buf);
}

int OpIoctl(ntfs_device* dev, unsigned long request, void* argp) {
  ntfs_device* inner = Wrapped(dev).inner;
  return inner->d_ops->ioctl(inner, request, argp);
}

#ifndef _WIN32
// Reading an image that another program holds locked (a FUSE driver keeps
// its lock): plain reads, no lock, no writes.
int* Fd(ntfs_device* dev) { return static_cast<int*>(dev->d_private); }

int PlainOpen(ntfs_device* dev, int) {
  struct stat st;
  if (stat(dev->d_name, &st) != 0) return -1;
  const int fd = open(dev->d_name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  dev->d_private = new int(fd);
  if (S_ISBLK(st.st_mode)) NDevSetBlock(dev);
  NDevSetReadOnly(dev);
  NDevSetOpen(dev);
  return 0;
}
int PlainClose(ntfs_device* dev) {
  const int result = close(*Fd(dev));
  delete Fd(dev);
  dev->d_private = nullptr;
  NDevClearOpen(dev);
  return result;
}
s64 PlainSeek(ntfs_device* dev, s64 offset, int whence) { return lseek(*Fd(dev), offset, whence); }
s64 PlainRead(ntfs_device* dev, void* buf, s64 count) { return read(*Fd(dev), buf, count); }
s64 PlainWrite(ntfs_device*, const void*, s64) {
  errno = EROFS;
  return -1;
}
s64 PlainPread(ntfs_device* dev, void* buf, s64 count, s64 offset) { return pread(*Fd(dev), buf, count, offset); }
s64 PlainPwrite(ntfs_device*, const void*, s64, s64) {
  errno = EROFS;
  return -1;
}
int PlainSync(ntfs_device*) { return 0; }
int PlainStat(ntfs_device* dev, struct stat* buf) { return fstat(*Fd(dev), buf); }
int PlainIoctl(ntfs_device* dev, unsigned long request, void* argp) { return ioctl(*Fd(dev), request, argp); }

ntfs_device_operations g_plain_read_ops = {PlainOpen,  PlainClose,  PlainSeek, PlainRead, PlainWrite,
                                           PlainPread, PlainPwrite, PlainSync, PlainStat, PlainIoctl};
#endif

ntfs_device_operations g_journaled_ops = {OpOpen, OpClose, OpSeek,  OpRead,  OpWrite,
                                          OpPread, OpPwrite, OpSync, OpStat, OpIoctl};

}  // namespace

JournaledDevice::~JournaledDevice() {
  if (inner) ntfs_device_free(inner);
}

uint32_t MountJournaled(const std::string& canonical, MountMode mode, ntfs_volume** vol,
                        std::unique_ptr<JournaledDevice>* device) {
  *vol = nullptr;
  const bool read_only = mode != MountMode::kWrite;
  auto wrapped = std::make_unique<JournaledDevice>();
  wrapped->read_only = read_only;
  ntfs_device_operations* inner_ops = &SHARDIX_LIBRARY_IO_OPS;
#ifndef _WIN32
  if (mode == MountMode::kReadWhileInUse) inner_ops = &g_plain_read_ops;
#endif
  wrapped->inner = ntfs_device_alloc(canonical.c_str(), 0, inner_ops, nullptr);
  if (!wrapped->inner) return CodeFromErrno(errno);
  wrapped->journal = std::make_unique<ImageJournal>(wrapped->inner, JournalPathFor(canonical), canonical,
                                                    JournalEnabled() && !read_only);
  ntfs_device* dev = ntfs_device_alloc(canonical.c_str(), 0, &g_journaled_ops, wrapped.get());
  if (!dev) return CodeFromErrno(errno);
  errno = 0;
  ntfs_volume* mounted = ntfs_device_mount(dev, read_only ? NTFS_MNT_RDONLY : NTFS_MNT_NONE);
  if (!mounted) {
    const int err = errno;
    ntfs_device_free(dev);
    return MountFailureCode(err, canonical);
  }
  ntfs_create_lru_caches(mounted);  // as the library's own ntfs_mount does
  // An image is input from outside: nothing computes with its geometry
  // before it has been checked against the device.
  if (const uint32_t code = CheckVolumeGeometry(mounted)) {
    ntfs_umount(mounted, FALSE);
    return code;
  }
  *vol = mounted;
  *device = std::move(wrapped);
  return kErrorSuccess;
}

ImageJournal& JournalOf(ntfs_volume* vol) { return *Wrapped(vol->dev).journal; }

uint32_t CommitVolume(ntfs_volume* vol) {
  for (ntfs_inode* ni : {vol->mft_ni, vol->mftmirr_ni, vol->lcnbmp_ni}) {
    errno = 0;
    if (ni && NInoDirty(ni) && ntfs_inode_sync(ni) != 0) return CodeFromErrno(errno);
  }
  if (const int err = JournalOf(vol).Commit()) return CodeFromErrno(err);
  return kErrorSuccess;
}

uint32_t UnmountJournaled(ntfs_volume* vol, std::unique_ptr<JournaledDevice> device) {
  if (!vol) return kErrorSuccess;
  errno = 0;
  // Syncs what is dirty, then the device's sync and close commit the rest.
  const uint32_t result = ntfs_umount(vol, FALSE) != 0 ? CodeFromErrno(errno) : kErrorSuccess;
  device.reset();
  return result;
}

}  // namespace shardix::ntfsimage
