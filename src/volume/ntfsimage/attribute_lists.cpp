// Attribute lists read as the library's readers read them: the list walked
// entry by entry with the bounds the library keeps, each entry followed to
// the record and attribute instance it names, and every extent the records
// hold named by exactly one entry. A reader that meets anything else stops
// ("Corrupt attribute list entry", "Run lists overlap"), so the file cannot
// be read.
#include "volume/ntfsimage/scan_parts.h"
#include "volume/ntfsimage/volume_bounds.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

namespace {

// The library refuses longer attribute lists when it opens a file.
constexpr s64 kMaxListBytes = 0x40000;

std::u16string NameOf(const u8* at, unsigned length) {
  std::u16string name(length, u'\0');
  for (unsigned i = 0; i < length; ++i)
    name[i] = static_cast<char16_t>(at[2 * i] | (at[2 * i + 1] << 8));
  return name;
}

std::string Describe(uint32_t type, VCN vcn, uint64_t record) {
  return "attribute 0x" + HexText(type) + " at VCN " + std::to_string(vcn) + " in record " +
         std::to_string(record);
}

// A resident attribute's value, or null when it does not lie in the attribute.
const u8* ResidentValue(const ATTR_RECORD* a, uint32_t* length) {
  const uint64_t offset = le16_to_cpu(a->value_offset);
  *length = le32_to_cpu(a->value_length);
  if (offset + *length > le32_to_cpu(a->length)) return nullptr;
  return reinterpret_cast<const u8*>(a) + offset;
}

// A non-resident attribute list's bytes, read cluster run by run.
std::string ReadNonResident(ntfs_volume* vol, const ATTR_RECORD* a, std::vector<u8>* bytes) {
  const s64 size = sle64_to_cpu(a->data_size);
  if (size < 0 || size > kMaxListBytes) return "its attribute list is too large";
  runlist_element* rl = ntfs_mapping_pairs_decompress(vol, a, nullptr);
  if (!rl) return "the runs of its attribute list cannot be decoded";
  bytes->assign(static_cast<size_t>(size), 0);
  std::string problem;
  for (runlist_element* run = rl; run->length && problem.empty(); ++run) {
    const s64 from = run->vcn << vol->cluster_size_bits;
    if (from >= size) break;
    if (run->lcn < 0 || !RunWithinVolume(vol, run->lcn, run->length)) {
      problem = "its attribute list has a run off the volume";
      break;
    }
    const s64 count = std::min<s64>(run->length << vol->cluster_size_bits, size - from);
    errno = 0;
    if (ntfs_pread(vol->dev, run->lcn << vol->cluster_size_bits, count, bytes->data() + from) != count)
      problem = "its attribute list cannot be read";
  }
  free(rl);
  return problem;
}

}  // namespace

std::string AttributeLists::ReadList(ntfs_volume* vol, const ATTR_RECORD* a, File* file) {
  std::vector<u8> bytes;
  if (a->non_resident) {
    if (std::string problem = ReadNonResident(vol, a, &bytes); !problem.empty()) return problem;
  } else {
    uint32_t length = 0;
    const u8* value = ResidentValue(a, &length);
    if (!value) return "its attribute list lies outside its attribute";
    bytes.assign(value, value + length);
  }
  if (bytes.empty()) return "its attribute list is empty";
  uint32_t last_type = 0;
  for (size_t at = 0; at < bytes.size();) {
    const std::string where = "its attribute list entry at byte " + std::to_string(at);
    if (bytes.size() - at < offsetof(ATTR_LIST_ENTRY, name)) return where + " is cut short";
    ATTR_LIST_ENTRY header;
    std::memcpy(&header, bytes.data() + at, offsetof(ATTR_LIST_ENTRY, name));
    const size_t length = le16_to_cpu(header.length);
    if (length < offsetof(ATTR_LIST_ENTRY, name) || (length & 7) || length > bytes.size() - at)
      return where + " has a bad length (" + std::to_string(length) + ")";
    if (header.name_length && header.name_offset + 2u * header.name_length > length)
      return where + " has its name outside the entry";
    Entry entry;
    entry.type = le32_to_cpu(header.type);
    // The library stops looking for a type at the first entry of a higher one.
    if (entry.type < last_type) return where + " is out of order";
    last_type = entry.type;
    entry.name = NameOf(bytes.data() + at + header.name_offset, header.name_length);
    entry.lowest_vcn = sle64_to_cpu(header.lowest_vcn);
    entry.record = MREF_LE(header.mft_reference);
    entry.sequence = MSEQNO_LE(header.mft_reference);
    entry.instance = le16_to_cpu(header.instance);
    file->entries.push_back(std::move(entry));
    at += length;
  }
  return "";
}

void AttributeLists::Note(ntfs_volume* vol, const MFT_RECORD* m, uint64_t number,
                          uint64_t base, bool has_list) {
  std::vector<Entry>& held = held_[base];
  AttributeWalk walk(m, vol->mft_record_size);
  while (const ATTR_RECORD* a = walk.Next()) {
    if (a->type == AT_ATTRIBUTE_LIST && has_list) {
      File& file = lists_[number];
      file.problem = ReadList(vol, a, &file);
      continue;
    }
    Entry entry;
    entry.type = le32_to_cpu(a->type);
    entry.name = NameOf(reinterpret_cast<const u8*>(a) + le16_to_cpu(a->name_offset), a->name_length);
    entry.lowest_vcn = a->non_resident ? sle64_to_cpu(a->lowest_vcn) : 0;
    entry.record = number;
    entry.sequence = le16_to_cpu(m->sequence_number);
    entry.instance = le16_to_cpu(a->instance);
    held.push_back(std::move(entry));
  }
}

std::string AttributeLists::Compare(File& file, std::vector<Entry>& held) {
  // The library takes the first attribute of the record with the entry's
  // instance: the first one held, in record order.
  std::map<std::pair<uint64_t, uint16_t>, Entry*> by_instance;
  for (Entry& h : held) by_instance.emplace(std::make_pair(h.record, h.instance), &h);
  for (const Entry& entry : file.entries) {
    const std::string what = Describe(entry.type, entry.lowest_vcn, entry.record);
    const auto at = by_instance.find({entry.record, entry.instance});
    if (at == by_instance.end())
      return "its attribute list names " + what + ", which that record does not hold for it";
    Entry* found = at->second;
    // The library accepts no other sequence number, not even 0, for the
    // record it is in when it meets the entry.
    if (entry.sequence != found->sequence)
      return "its attribute list names " + what + " by a stale reference";
    if (found->type != entry.type || found->name != entry.name)
      return "its attribute list names " + what + ", where the record holds attribute 0x" +
             HexText(found->type);
    if (found->lowest_vcn != entry.lowest_vcn)
      return "its attribute list names " + what + ", whose extent starts at VCN " +
             std::to_string(found->lowest_vcn);
    if (found->listed) return "its attribute list names " + what + " twice";
    found->listed = true;
  }
  for (const Entry& h : held)
    if (!h.listed) return Describe(h.type, h.lowest_vcn, h.record) + " is not in its attribute list";
  return "";
}

void AttributeLists::Check(ntfs_volume* vol, ConsistencyReport* report) {
  for (auto& [base, held] : held_) {
    if (held.empty()) continue;
    auto list = lists_.find(base);
    std::string problem;
    if (list == lists_.end()) {
      // Extension records whose base has no list: no reader finds them.
      problem = Describe(held[0].type, held[0].lowest_vcn, held[0].record) +
                " belongs to it, but it has no attribute list";
    } else {
      problem = list->second.problem.empty() ? Compare(list->second, held) : list->second.problem;
    }
    if (problem.empty()) continue;
    std::vector<uint64_t> extensions;
    for (const Entry& h : held)
      if (h.record != base) extensions.push_back(h.record);
    const std::string path = RecordPath(vol, base, extensions);
    AddUnreadableFile(report, (path.empty() ? "" : path + " ") + "(record " + std::to_string(base) +
                                  "): " + problem);
  }
}

namespace {

// The name of record `number` and its folder's record, from its $FILE_NAME
// (the long name when there are two); false when it holds none.
bool ReadName(ntfs_volume* vol, uint64_t number, MFT_RECORD* m, std::string* name,
              uint64_t* parent) {
  errno = 0;
  if (ntfs_mft_record_read(vol, number, m) != 0 || !ntfs_is_file_record(m->magic) ||
      !(m->flags & MFT_RECORD_IN_USE))
    return false;
  name->clear();
  AttributeWalk walk(m, vol->mft_record_size);
  while (const ATTR_RECORD* a = walk.Next()) {
    uint32_t length = 0;
    const u8* value = a->type == AT_FILE_NAME && !a->non_resident ? ResidentValue(a, &length) : nullptr;
    if (!value || length < sizeof(FILE_NAME_ATTR)) continue;
    const auto* fn = reinterpret_cast<const FILE_NAME_ATTR*>(value);
    if (sizeof(FILE_NAME_ATTR) + 2u * fn->file_name_length > length) continue;
    if (!name->empty() && fn->file_name_type == FILE_NAME_DOS) continue;
    std::vector<ntfschar> chars(fn->file_name_length);
    std::memcpy(chars.data(), value + offsetof(FILE_NAME_ATTR, file_name), 2u * chars.size());
    char* text = nullptr;
    if (ntfs_ucstombs(chars.data(), fn->file_name_length, &text, 0) < 0 || !text) continue;
    *name = text;
    free(text);
    *parent = MREF_LE(fn->parent_directory);
    if (fn->file_name_type != FILE_NAME_DOS) break;
  }
  return !name->empty();
}

}  // namespace

std::string RecordPath(ntfs_volume* vol, uint64_t number, const std::vector<uint64_t>& extensions) {
  std::vector<u8> buffer(vol->mft_record_size);
  auto* m = reinterpret_cast<MFT_RECORD*>(buffer.data());
  std::string path;
  // A folder chain longer than this is a loop in damaged records.
  for (int depth = 0; depth < 256; ++depth) {
    if (number == FILE_root) return path.empty() ? "/" : path;
    std::string name;
    uint64_t parent = number;
    // A file with many extents may keep its name in an extension record.
    bool found = ReadName(vol, number, m, &name, &parent);
    for (size_t i = 0; !found && depth == 0 && i < extensions.size(); ++i)
      found = ReadName(vol, extensions[i], m, &name, &parent);
    if (!found || parent == number) return "";
    path = "/" + name + path;
    number = parent;
  }
  return "";
}

}  // namespace shardix::ntfsimage
