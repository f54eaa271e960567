// The pre-flight of a job that writes to an image, in the manner of a
// resizer that refuses a volume not checked clean: before the first move on
// a mount, the ownership scan (ownership_scan.h, which `check` runs too)
// must find no cluster a file owns marked free, no cluster owned twice, no
// damaged record, no file a reader would fail on and no boot sector that
// disagrees with its backup. Through the job, the map of owned
// clusters it built is kept up to date, and a move's target must be free in
// it as well as in $Bitmap. Private to this folder.
#pragma once

#include <cstdint>
#include <vector>

#include "volume/ntfsimage/runlist_edit.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

class MoveGuard {
 public:
  // Scans on the first call and keeps the verdict: 0 when moves may go on,
  // ERROR_VOLUME_MAP_DISAGREES (kErrorVolumeMapDisagrees) when $Bitmap and
  // the files disagree, ERROR_DISK_CORRUPT for the other damage (the library
  // message says which), or what kept the scan from running.
  uint32_t Ready(ntfs_volume* vol);
  // True when no file owns a cluster of [lcn, lcn + count).
  bool Unowned(LCN lcn, s64 count) const;
  // A move went through: `sources` are free, the target is owned.
  void Moved(const std::vector<ClusterRun>& sources, LCN target, s64 count);
  // Files were made, written or deleted other than by a move (the scenario
  // builder): the next move scans again.
  void Forget() {
    scanned_ = false;
    std::vector<uint64_t>().swap(owned_);
  }

 private:
  void Mark(LCN lcn, s64 count, bool owned);

  bool scanned_ = false;
  uint32_t verdict_ = 0;
  std::vector<uint64_t> owned_;
};

}  // namespace shardix::ntfsimage
