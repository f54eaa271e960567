// The boot sector and its backup must be the same sector: a volume whose
// pair disagrees has lost one of them, and the next repair or mount may take
// either.
#include "volume/error_codes.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/scan_parts.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

uint32_t CheckBootSectorPair(ntfs_volume* vol, std::string* problem) {
  problem->clear();
  const s64 sector = vol->sector_size;
  if (sector < static_cast<s64>(sizeof(NTFS_BOOT_SECTOR))) return kErrorSuccess;  // not mounted so
  std::vector<u8> primary(static_cast<size_t>(sector)), backup(primary.size());
  errno = 0;
  if (ntfs_pread(vol->dev, 0, sector, primary.data()) != sector) return CodeFromErrno(errno);
  NTFS_BOOT_SECTOR boot;
  std::memcpy(&boot, primary.data(), sizeof boot);
  // The backup lies in the sector after the last one the volume counts.
  const s64 at = sle64_to_cpu(boot.number_of_sectors);
  errno = 0;
  const s64 device_sectors = ntfs_device_size_get(vol->dev, static_cast<int>(sector));
  if (device_sectors <= 0) return CodeFromErrno(errno);
  if (at < 0 || at >= device_sectors) {
    *problem = "the backup boot sector (sector " + std::to_string(at) +
               ") lies past the end of the device";
    return kErrorSuccess;
  }
  errno = 0;
  if (ntfs_pread(vol->dev, at * sector, sector, backup.data()) != sector) return CodeFromErrno(errno);
  if (primary != backup)
    *problem = "the backup boot sector (sector " + std::to_string(at) + ") differs from the primary";
  return kErrorSuccess;
}

}  // namespace shardix::ntfsimage
