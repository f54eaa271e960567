#include "volume/ntfsimage/image_writer.h"

#include "volume/error_codes.h"
#include "volume/ntfsimage/image_in_use.h"
#include "volume/ntfsimage/image_mount.h"
#include "volume/ntfsimage/journal/journal_device.h"
#include "volume/ntfsimage/journal/journal_recovery.h"
#ifdef _WIN32
#include "volume/ntfsimage/image_lock.h"
#endif
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/volume_bounds.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix {

namespace {

using ntfsimage::CodeFromErrno;

// Records the failing step with the system's message for `code`.
uint32_t Fail(uint32_t code, const std::string& what, std::string* error) {
  return ntfsimage::ReportFailure(code, what, error);
}

// A private read-write mount for one change; unmounting writes it back.
class WriteMount {
 public:
  uint32_t Open(const std::string& image, std::string* error) {
    ntfsimage::InstallLibraryLogHandler();
    std::string canonical;
    if (!ntfsimage::CanonicalImagePath(image, &canonical))
      return Fail(kErrorFileNotFound, "Opening " + image, error);
    if (ntfsimage::IsMountedHere(canonical))
      return Fail(kErrorSharingViolation, "Opening " + image, error);
    if (const std::string in_use = ntfsimage::InUseElsewhere(canonical); !in_use.empty())
      return Fail(kErrorSharingViolation, "Opening " + image + " (" + in_use + ")", error);
#ifdef _WIN32
    if (const uint32_t code = ntfsimage::LockImage(canonical, true, &image_lock_))
      return Fail(code, "Opening " + image, error);
#endif
    ntfsimage::RecoveryOutcome recovered;
    if (const uint32_t code = ntfsimage::RecoverJournal(canonical, &recovered))
      return Fail(code, "Playing back the journal of " + image, error);
    if (recovered.interrupted)
      return Fail(kErrorInterruptedChange, "Opening " + image + " (" + recovered.problem + ")", error);
    if (const uint32_t code = ntfsimage::MountJournaled(canonical, ntfsimage::MountMode::kWrite, &vol_, &device_))
      return Fail(code, "Opening " + image, error);
    return kErrorSuccess;
  }
  // Unmounts; the first failure of the change itself wins over this one.
  uint32_t Close(uint32_t result, const std::string& image, std::string* error) {
    if (!vol_) return result;
    const uint32_t unmounted = ntfsimage::UnmountJournaled(vol_, std::move(device_));
    vol_ = nullptr;
    if (unmounted != kErrorSuccess && result == kErrorSuccess)
      return Fail(unmounted, "Writing back " + image, error);
    return result;
  }
  ~WriteMount() {
    if (vol_) ntfsimage::UnmountJournaled(vol_, std::move(device_));
  }
  ntfs_volume* vol() const { return vol_; }

 private:
  ntfs_volume* vol_ = nullptr;
  std::unique_ptr<ntfsimage::JournaledDevice> device_;
#ifdef _WIN32
  std::shared_ptr<void> image_lock_;  // image_lock.h; released after the unmount
#endif
};

bool SplitInnerPath(const std::string& inner_path, std::string* parent, std::string* name) {
  if (inner_path.size() < 2 || inner_path[0] != '/' || inner_path.back() == '/') return false;
  const size_t slash = inner_path.rfind('/');
  *parent = slash == 0 ? "/" : inner_path.substr(0, slash);
  *name = inner_path.substr(slash + 1);
  return true;
}

// The file `name` of the open folder `parent`, looked up in that folder: a
// lookup by full path would open the folder a second time, a copy the
// library's inode cache keeps and never frees. Null with errno set (ENOENT
// when there is no such file).
ntfs_inode* OpenInFolder(ntfs_volume* vol, ntfs_inode* parent, const std::string& name) {
  errno = 0;
  const u64 mref = ntfs_inode_lookup_by_mbsname(parent, name.c_str());
  if (mref == static_cast<u64>(-1)) {
    if (errno == 0) errno = ENOENT;
    return nullptr;
  }
  return ntfs_inode_open(vol, MREF(mref));
}

uint32_t WriteInto(ntfs_volume* vol, const std::string& inner_path,
                   const std::vector<uint8_t>& bytes, std::string* error) {
  std::string parent_path, name;
  if (!SplitInnerPath(inner_path, &parent_path, &name))
    return Fail(kErrorBadPathname, inner_path, error);
  errno = 0;
  ntfs_inode* parent = ntfs_pathname_to_inode(vol, nullptr, parent_path.c_str());
  if (!parent) return Fail(kErrorPathNotFound, "Opening folder " + parent_path, error);
  ntfschar* uname = nullptr;
  const int uname_len = ntfs_mbstoucs(name.c_str(), &uname);
  if (uname_len <= 0) {
    const uint32_t code = CodeFromErrno(errno);
    ntfs_inode_close(parent);
    return Fail(code, "Converting the name " + name, error);
  }

  uint32_t result = kErrorSuccess;
  errno = 0;
  ntfs_inode* ni = OpenInFolder(vol, parent, name);
  if (!ni && errno != ENOENT) result = Fail(CodeFromErrno(errno), "Opening " + inner_path, error);
  if (result == kErrorSuccess && !ni) {
    errno = 0;
    ni = ntfs_create(parent, const_cpu_to_le32(0), uname, static_cast<u8>(uname_len), S_IFREG);
    if (!ni) result = Fail(CodeFromErrno(errno), "Creating " + inner_path, error);
  }
  if (result == kErrorSuccess) {
    errno = 0;
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (!na) {
      result = Fail(CodeFromErrno(errno), "Opening the data of " + inner_path, error);
    } else {
      errno = 0;
      if (ntfs_attr_truncate(na, 0) != 0) result = Fail(CodeFromErrno(errno), "Emptying " + inner_path, error);
      s64 done = 0;
      const s64 size = static_cast<s64>(bytes.size());
      while (result == kErrorSuccess && done < size) {
        errno = 0;
        const s64 wrote = ntfs_attr_pwrite(na, done, size - done, bytes.data() + done);
        if (wrote <= 0) result = Fail(CodeFromErrno(errno), "Writing " + inner_path, error);
        else done += wrote;
      }
      ntfs_attr_close(na);
    }
  }
  if (ni) {
    errno = 0;
    // Closing within the open folder: a plain close opens the folder a second
    // time to update the file's name entry, and two open copies of a folder
    // whose index has grown out of its record corrupt each other's changes.
    if (ntfs_inode_close_in_dir(ni, parent) != 0 && result == kErrorSuccess)
      result = Fail(CodeFromErrno(errno), "Writing back " + inner_path, error);
  }
  free(uname);
  errno = 0;
  if (ntfs_inode_close(parent) != 0 && result == kErrorSuccess)
    result = Fail(CodeFromErrno(errno), "Writing back folder " + parent_path, error);
  return result;
}

uint32_t DeleteFrom(ntfs_volume* vol, const std::string& inner_path, std::string* error) {
  std::string parent_path, name;
  if (!SplitInnerPath(inner_path, &parent_path, &name))
    return Fail(kErrorBadPathname, inner_path, error);
  errno = 0;
  ntfs_inode* parent = ntfs_pathname_to_inode(vol, nullptr, parent_path.c_str());
  if (!parent) return Fail(kErrorPathNotFound, "Opening folder " + parent_path, error);
  errno = 0;
  ntfs_inode* ni = OpenInFolder(vol, parent, name);
  if (!ni) {
    const uint32_t code = errno == ENOENT ? kErrorFileNotFound : CodeFromErrno(errno);
    ntfs_inode_close(parent);
    return Fail(code, "Opening " + inner_path, error);
  }
  ntfschar* uname = nullptr;
  const int uname_len = ntfs_mbstoucs(name.c_str(), &uname);
  uint32_t result = kErrorSuccess;
  if (uname_len <= 0) {
    result = Fail(CodeFromErrno(errno), "Converting the name " + name, error);
    ntfs_inode_close(ni);
  } else {
    errno = 0;
    // Closes ni and the folder whatever happens.
    if (ntfs_delete(vol, inner_path.c_str(), ni, parent, uname, static_cast<u8>(uname_len)) != 0)
      result = Fail(CodeFromErrno(errno), "Deleting " + inner_path, error);
    free(uname);
    return result;
  }
  free(uname);
  errno = 0;
  if (ntfs_inode_close(parent) != 0 && result == kErrorSuccess)
    result = Fail(CodeFromErrno(errno), "Writing back folder " + parent_path, error);
  return result;
}

}  // namespace

uint32_t WriteFileToImage(const std::string& image, const std::string& inner_path,
                          const std::vector<uint8_t>& bytes, std::string* error) {
  if (error) error->clear();
  WriteMount mount;
  uint32_t result = mount.Open(image, error);
  if (result != kErrorSuccess) return result;
  result = WriteInto(mount.vol(), inner_path, bytes, error);
  return mount.Close(result, image, error);
}

uint32_t DeleteFileFromImage(const std::string& image, const std::string& inner_path,
                             std::string* error) {
  if (error) error->clear();
  WriteMount mount;
  uint32_t result = mount.Open(image, error);
  if (result != kErrorSuccess) return result;
  result = DeleteFrom(mount.vol(), inner_path, error);
  return mount.Close(result, image, error);
}

}  // namespace shardix
