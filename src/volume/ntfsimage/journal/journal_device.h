// libntfs-3g mounts whose device writes go through an ImageJournal: the
// library's own device code does the I/O, ours decides what reaches the
// image when (image_journal.h). Private to this folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "volume/ntfsimage/journal/image_journal.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

// What the wrapping device keeps; owned by whoever mounted, and kept until
// after the unmount.
struct JournaledDevice {
  ntfs_device* inner = nullptr;  // the library's default device on the image
  std::unique_ptr<ImageJournal> journal;
  bool read_only = false;
  ~JournaledDevice();
};

enum class MountMode {
  kWrite,
  kRead,           // read-only, taking the library's shared lock on the image
  kReadWhileInUse  // read-only without a lock: something else holds the image
};

// Mounts `canonical` through a journaled device. Returns 0 with *vol and
// *device set, or a Windows code.
uint32_t MountJournaled(const std::string& canonical, MountMode mode, ntfs_volume** vol,
                        std::unique_ptr<JournaledDevice>* device);

// The journal of a volume mounted by MountJournaled.
ImageJournal& JournalOf(ntfs_volume* vol);

// Writes back the records the library holds dirty ($MFT, $MFTMirr,
// $Bitmap) and commits the journal. 0 or a Windows code.
uint32_t CommitVolume(ntfs_volume* vol);

// Unmounts, committing everything, and removes the journal file.
// 0 or a Windows code.
uint32_t UnmountJournaled(ntfs_volume* vol, std::unique_ptr<JournaledDevice> device);

}  // namespace shardix::ntfsimage
