// The parts of the ownership scan (ownership_scan.h), each fed record by
// record and asked for its findings at the end. Private to this folder.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "volume/ntfsimage/consistency_check.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

// Problems go into the report's lists up to kMaxSpans each; beyond that they
// are counted, so a ruined volume cannot take all memory.
void AddUnreadable(ConsistencyReport* report, std::string what);
void AddUnreadableFile(ConsistencyReport* report, std::string what);
void AddChainProblem(ConsistencyReport* report, uint64_t base, uint32_t type,
                     const std::string& name, std::string problem);
std::string HexText(uint64_t value);

// Each attribute's extents, which must follow one another from VCN 0 to its
// allocated size without gap or overlap.
class ExtentChains {
 public:
  // One attribute record's part of the runlist: `decoded_end` is the VCN
  // after its last decoded run; `where` says which record holds it.
  void Add(uint64_t base, const ATTR_RECORD* a, const std::string& name, VCN decoded_end,
           const std::string& where, ConsistencyReport* report);
  void Check(const ntfs_volume* vol, ConsistencyReport* report);

 private:
  struct Piece {
    VCN lowest = 0;
    VCN highest = 0;
    VCN decoded_end = 0;
    s64 allocated_size = -1;  // only in the piece with lowest VCN 0
    std::string where;
  };
  using Key = std::tuple<uint64_t, uint32_t, std::string>;  // base record, type, name
  std::map<Key, std::vector<Piece>> pieces_;
};

// Every file's attribute list, followed entry by entry as the library's
// readers follow it (ntfscat, analyze, the jobs), against the attributes the
// base and extension records really hold. A file a reader would trip on is
// reported with its path.
class AttributeLists {
 public:
  // Called for each in-use record whose attributes walked clean; `base` is
  // its own number for a base record. `has_list`: it holds $ATTRIBUTE_LIST.
  void Note(ntfs_volume* vol, const MFT_RECORD* m, uint64_t number, uint64_t base,
            bool has_list);
  void Check(ntfs_volume* vol, ConsistencyReport* report);

 private:
  struct Entry {  // one attribute list entry, or one attribute a record holds
    uint32_t type = 0;
    std::u16string name;
    VCN lowest_vcn = 0;
    uint64_t record = 0;
    uint16_t sequence = 0;
    uint16_t instance = 0;
    bool listed = false;  // a held attribute some entry names
  };
  struct File {
    std::vector<Entry> entries;
    std::string problem;  // the list itself cannot be read; "" when it can
  };
  std::string ReadList(ntfs_volume* vol, const ATTR_RECORD* a, File* file);
  std::string Compare(File& file, std::vector<Entry>& held);

  std::map<uint64_t, File> lists_;                 // base record → its list
  std::map<uint64_t, std::vector<Entry>> held_;    // base record → attributes held
};

// The path of file record `number` inside the volume ("/docs/a.bin"), read
// from its names up to the root, looking for its own name in `extensions`
// (its extension records) too; "" when it cannot be told.
std::string RecordPath(ntfs_volume* vol, uint64_t number, const std::vector<uint64_t>& extensions);

// Compares the boot sector with its backup in the sector after the last one
// the volume counts. Returns 0 and leaves *problem "" when they are equal;
// 0 and sets *problem when they differ or the backup lies past the device;
// the code of a failed read otherwise.
uint32_t CheckBootSectorPair(ntfs_volume* vol, std::string* problem);

}  // namespace shardix::ntfsimage
