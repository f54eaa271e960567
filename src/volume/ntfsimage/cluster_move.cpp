#include "volume/ntfsimage/cluster_move.h"

#include <string>

#include "volume/error_codes.h"
#include "volume/ntfsimage/journal/journal_device.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/runlist_edit.h"
#include "volume/ntfsimage/volume_bounds.h"
#include "volume/ntfsimage/ntfs_headers.h"
#include "volume/system_error.h"

namespace shardix::ntfsimage {

namespace {

// The detail of a failed move whose target could not be given back.
std::string StayInUse(const ImageMount& mount, LCN lcn, s64 count, uint32_t code) {
  return "clusters " + std::to_string(lcn) + "+" + std::to_string(count) + " of " +
         mount.display_name() + " stay marked in use: " + SystemErrorFor(code).message();
}

// Big enough for copies to run at the device's streaming speed.
constexpr size_t kCopyChunk = 4u << 20;

bool NoBitSet(const std::vector<uint8_t>& bytes, LCN lcn, s64 count) {
  const s64 first_byte = lcn / 8;
  for (LCN at = lcn; at < lcn + count; ++at)
    if ((bytes[static_cast<size_t>(at / 8 - first_byte)] >> (at % 8)) & 1) return false;
  return true;
}

// Sets *free when no cluster of [lcn, lcn + count) is marked in use.
uint32_t TargetIsFree(ntfs_volume* vol, LCN lcn, s64 count, bool* free) {
  const s64 first_byte = lcn / 8;
  const s64 last_byte = (lcn + count - 1) / 8;
  std::vector<uint8_t> bytes(static_cast<size_t>(last_byte - first_byte + 1));
  errno = 0;
  const s64 got = ntfs_attr_pread(vol->lcnbmp_na, first_byte, static_cast<s64>(bytes.size()),
                                  bytes.data());
  if (got != static_cast<s64>(bytes.size())) return got < 0 ? CodeFromErrno(errno) : kErrorReadFault;
  *free = NoBitSet(bytes, lcn, count);
  return kErrorSuccess;
}

// The same as the image holds it at the journal's last commit: clusters
// freed since then still belong to their file if the moves are rolled back.
uint32_t TargetWasFree(ntfs_volume* vol, ImageJournal& journal, LCN lcn, s64 count, bool* free) {
  const s64 first_byte = lcn / 8;
  const s64 last_byte = (lcn + count - 1) / 8;
  std::vector<uint8_t> bytes(static_cast<size_t>(last_byte - first_byte + 1));
  const s64 cluster = vol->cluster_size;
  for (s64 at = first_byte; at <= last_byte;) {
    errno = 0;
    const LCN where = ntfs_attr_vcn_to_lcn(vol->lcnbmp_na, at / cluster);
    if (where < 0) return errno ? CodeFromErrno(errno) : kErrorFileCorrupt;
    const s64 within = at % cluster;
    const s64 chunk = std::min(cluster - within, last_byte - at + 1);
    errno = 0;
    const s64 got = journal.ReadCommitted(bytes.data() + (at - first_byte), chunk, where * cluster + within);
    if (got != chunk) return got < 0 ? CodeFromErrno(errno) : kErrorReadFault;
    at += chunk;
  }
  *free = NoBitSet(bytes, lcn, count);
  return kErrorSuccess;
}

// The target's clusters take the copy straight away, outside the journal;
// the metadata of the move waits for the next commit.
class MoveInJournal {
 public:
  MoveInJournal(ImageMount& mount, const OpenedInode& inode, LCN target, s64 count)
      : journal_(mount.journal()) {
    const s64 cluster = mount.volume()->cluster_size;
    journal_.BeginMove(target * cluster, (target + count) * cluster, inode.path);
  }
  ~MoveInJournal() { journal_.EndMove(); }

 private:
  ImageJournal& journal_;
};

uint32_t CopyClusters(ImageMount& mount, const std::vector<ClusterRun>& sources, LCN target) {
  ntfs_volume* vol = mount.volume();
  std::vector<uint8_t>& buffer = mount.copy_buffer();
  if (buffer.size() < kCopyChunk) buffer.resize(kCopyChunk);
  const s64 cluster = vol->cluster_size;
  s64 to = target * cluster;
  for (const ClusterRun& run : sources) {
    s64 from = run.lcn * cluster;
    s64 left = run.length * cluster;
    while (left > 0) {
      const s64 chunk = std::min<s64>(left, static_cast<s64>(buffer.size()));
      errno = 0;
      s64 done = ntfs_pread(vol->dev, from, chunk, buffer.data());
      if (done != chunk) return done < 0 ? CodeFromErrno(errno) : kErrorReadFault;
      errno = 0;
      done = ntfs_pwrite(vol->dev, to, chunk, buffer.data());
      if (done != chunk) return done < 0 ? CodeFromErrno(errno) : kErrorWriteFault;
      from += chunk;
      to += chunk;
      left -= chunk;
    }
  }
  return kErrorSuccess;
}

bool ReferencedByAttrList(const ntfs_inode* base, u64 mft_no) {
  if (!base->attr_list) return false;
  const u8* at = base->attr_list;
  const u8* end = at + base->attr_list_size;
  while (at + sizeof(ATTR_LIST_ENTRY) <= end) {
    const auto* entry = reinterpret_cast<const ATTR_LIST_ENTRY*>(at);
    if (MREF_LE(entry->mft_reference) == mft_no) return true;
    const u16 length = le16_to_cpu(entry->length);
    if (!length) break;
    at += length;
  }
  return false;
}

// A failed growth of the attribute list can leave an extension record that
// holds nothing and that nothing refers to; give it back to the MFT.
uint32_t FreeEmptyExtensionRecords(ntfs_volume* vol, ntfs_inode* base) {
  for (int i = base->nr_extents - 1; i >= 0; --i) {
    ntfs_inode* extent = base->extent_nis[i];
    const MFT_RECORD* record = extent->mrec;
    const auto* first = reinterpret_cast<const ATTR_RECORD*>(
        reinterpret_cast<const u8*>(record) + le16_to_cpu(record->attrs_offset));
    if (first->type != AT_END || ReferencedByAttrList(base, extent->mft_no)) continue;
    errno = 0;
    if (ntfs_mft_record_free(vol, extent) != 0) return CodeFromErrno(errno);
  }
  return kErrorSuccess;
}

// Puts the old runlist back after a failed rewrite. Returns 0 when the
// file's records describe the old clusters again.
uint32_t RestoreRunlist(ntfs_volume* vol, OpenedInode& inode, runlist_element* old_rl) {
  ntfs_attr* na = inode.stream;
  runlist_element* failed_rl = na->rl;
  na->rl = old_rl;
  inode.counted_rl = nullptr;
  free(failed_rl);
  NAttrSetRunlistDirty(na);
  errno = 0;
  // From VCN 0: the failed rewrite may have moved record boundaries anywhere.
  if (ntfs_attr_update_mapping_pairs(na, 0) != 0) return CodeFromErrno(errno);
  const uint32_t freed = FreeEmptyExtensionRecords(vol, inode.ni);
  errno = 0;
  if (ntfs_inode_sync(inode.ni) != 0) return CodeFromErrno(errno);
  return freed;
}

}  // namespace

namespace {

uint32_t MoveInsideJournal(ImageMount& mount, OpenedInode& inode, int64_t starting_vcn,
                           int64_t target_lcn, uint32_t cluster_count) {
  ntfs_volume* vol = mount.volume();
  const s64 count = cluster_count;
  if (count == 0 || starting_vcn < 0 || target_lcn < 0 || target_lcn > vol->nr_clusters - count)
    return kErrorInvalidParameter;

  ntfs_inode* ni = inode.ni;
  ntfs_attr* na = inode.stream;
  // What Windows will not move either: system files, directories (their
  // index is not ours to relocate), data held in the record, and streams
  // whose clusters are not plain copies of the data.
  if (inode.directory || ni->mft_no < FILE_first_user || !na || !NAttrNonResident(na))
    return kErrorAccessDenied;
  if ((na->data_flags & (ATTR_IS_COMPRESSED | ATTR_IS_ENCRYPTED)) ||
      (ni->flags & (FILE_ATTR_COMPRESSED | FILE_ATTR_ENCRYPTED)))
    return kErrorAccessDenied;
  const VCN end_vcn = na->allocated_size >> vol->cluster_size_bits;
  if (starting_vcn > end_vcn - count) return kErrorInvalidParameter;
  // Nothing moves on a volume whose bitmap and files disagree.
  MoveGuard& guard = mount.move_guard();
  if (const uint32_t verdict = guard.Ready(vol)) return verdict;

  // The whole runlist is needed to rewrite the records (a partly mapped one
  // loses the extents after the unmapped part).
  errno = 0;
  if (ntfs_attr_map_whole_runlist(na) != 0) return CodeFromErrno(errno);
  inode.counted_rl = nullptr;
  std::vector<ClusterRun> sources;
  if (!RunsOfRange(na->rl, starting_vcn, count, &sources)) return kErrorInvalidParameter;
  for (const ClusterRun& run : sources)
    if (!RunWithinVolume(vol, run.lcn, run.length)) return kErrorFileCorrupt;
  bool target_free = false;
  uint32_t result = TargetIsFree(vol, target_lcn, count, &target_free);
  if (result != kErrorSuccess) return result;
  // Also when it overlaps the file itself, or a file owns it unmarked.
  if (!target_free || !guard.Unowned(target_lcn, count)) return kErrorAccessDenied;
  result = TargetWasFree(vol, mount.journal(), target_lcn, count, &target_free);
  if (result == kErrorSuccess && !target_free) result = CommitVolume(vol);
  if (result != kErrorSuccess) return result;

  MoveInJournal in_journal(mount, inode, target_lcn, count);
  result = CopyClusters(mount, sources, target_lcn);
  if (result != kErrorSuccess) return result;

  // Take the target before any record changes, so that a record or MFT
  // growth during the rewrite cannot be given these clusters.
  errno = 0;
  if (ntfs_bitmap_set_run(vol->lcnbmp_na, target_lcn, count) != 0) {
    result = CodeFromErrno(errno);
    // It was all free a moment ago: clearing restores it exactly.
    if (ntfs_bitmap_clear_run(vol->lcnbmp_na, target_lcn, count) != 0)
      SetLastLibraryMessage(StayInUse(mount, target_lcn, count, CodeFromErrno(errno)));
    return result;
  }
  vol->free_clusters -= count;

  auto release_target = [&]() -> uint32_t {
    errno = 0;
    if (ntfs_bitmap_clear_run(vol->lcnbmp_na, target_lcn, count) != 0) return CodeFromErrno(errno);
    vol->free_clusters += count;
    return kErrorSuccess;
  };

  VCN first_changed = 0;
  errno = 0;
  runlist_element* placed = PlaceRange(na->rl, starting_vcn, count, target_lcn, &first_changed);
  if (!placed) {
    result = CodeFromErrno(errno);
    const uint32_t released = release_target();
    return released == kErrorSuccess ? result : released;
  }

  runlist_element* old_rl = na->rl;
  na->rl = placed;
  inode.counted_rl = nullptr;
  NAttrSetRunlistDirty(na);
  errno = 0;
  int failed = ntfs_attr_update_mapping_pairs(na, first_changed);
  if (failed == 0) {
    errno = 0;
    failed = ntfs_inode_sync(ni);
  }
  if (failed != 0) {
    result = CodeFromErrno(errno);
    if (RestoreRunlist(vol, inode, old_rl) == kErrorSuccess) {
      const uint32_t released = release_target();
      if (released != kErrorSuccess)
        SetLastLibraryMessage(StayInUse(mount, target_lcn, count, released));
    } else if (mount.journal().AbandonMove() == 0) {
      // The library's picture of the file is no longer trusted: the image
      // keeps the state before this move, and nothing more is written.
      SetLastLibraryMessage("could not restore the runlist of MFT record " +
                            std::to_string(ni->mft_no) + " on " + mount.display_name() +
                            "; the move was dropped and nothing more is written");
    } else {
      // The records may name the target or the source: keep both in use,
      // so neither can be handed to another file.
      SetLastLibraryMessage("could not restore the runlist of MFT record " +
                            std::to_string(ni->mft_no) + " on " + mount.display_name() +
                            "; clusters " + std::to_string(target_lcn) + "+" +
                            std::to_string(count) + " stay marked in use");
    }
    return result;
  }
  free(old_rl);

  // The file now lives at the target; the old clusters are free.
  guard.Moved(sources, target_lcn, count);
  for (const ClusterRun& run : sources) {
    errno = 0;
    if (ntfs_cluster_free_basic(vol, run.lcn, run.length) != 0) return CodeFromErrno(errno);
  }
  return kErrorSuccess;
}

}  // namespace

uint32_t MoveImageClusters(ImageMount& mount, OpenedInode& inode, int64_t starting_vcn,
                           int64_t target_lcn, uint32_t cluster_count) {
  // Another program may be writing the image, or a change to it waits for
  // its journal: it is only read.
  if (mount.read_only()) return mount.write_refusal();
  const uint32_t result = MoveInsideJournal(mount, inode, starting_vcn, target_lcn, cluster_count);
  if (result == kErrorSuccess) mount.journal().MoveMade();
  if (!mount.journal().CommitDue()) return result;
  const uint32_t committed = CommitVolume(mount.volume());
  return result != kErrorSuccess ? result : committed;
}

}  // namespace shardix::ntfsimage
