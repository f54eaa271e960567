#include "tests/support/image_damage.h"

#include <cstring>
#include <random>

namespace shardix::test {

ImageBytes::ImageBytes(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
  if (bytes_.size() < 512 || std::memcmp(bytes_.data() + 3, "NTFS    ", 8) != 0) return;
  const uint64_t sector = Get(0x0b, 2);
  const uint64_t per_cluster = Get(0x0d, 1);
  cluster_size_ = static_cast<uint32_t>(sector * per_cluster);
  const auto per_record = static_cast<int8_t>(Get(0x40, 1));
  if (!cluster_size_) return;
  record_size_ = per_record < 0 ? 1u << -per_record : static_cast<uint32_t>(per_record) * cluster_size_;
  mft_offset_ = Get(0x30, 8) * cluster_size_;
  mirror_offset_ = Get(0x38, 8) * cluster_size_;
  ok_ = record_size_ >= 512 && mft_offset_ < bytes_.size();
}

uint64_t ImageBytes::Get(uint64_t offset, int width) const {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = value << 8 | (offset + i < bytes_.size() ? bytes_[offset + i] : 0);
  return value;
}

void ImageBytes::Put(uint64_t offset, int width, uint64_t value) {
  for (int i = 0; i < width; ++i, value >>= 8)
    if (offset + i < bytes_.size()) bytes_[offset + i] = static_cast<uint8_t>(value);
}

uint64_t ImageBytes::RecordOffset(uint64_t number) const {
  const uint64_t offset = mft_offset_ + number * record_size_;
  return ok_ && offset + record_size_ <= bytes_.size() ? offset : 0;
}

std::vector<uint64_t> ImageBytes::Attributes(uint64_t record) const {
  std::vector<uint64_t> found;
  if (!record) return found;
  const uint64_t in_use = std::min<uint64_t>(Get(record + 0x18, 4), record_size_);
  uint64_t at = Get(record + 0x14, 2);
  while (at + 16 <= in_use && Get(record + at, 4) != 0xffffffff) {
    const uint64_t length = Get(record + at + 4, 4);
    if (length < 16 || at + length > in_use) break;
    found.push_back(record + at);
    at += length;
  }
  return found;
}

uint64_t ImageBytes::FindAttribute(uint64_t record, uint32_t type) const {
  for (uint64_t at : Attributes(record))
    if (Get(at, 4) == type) return at;
  return 0;
}

uint64_t ImageBytes::BitmapOffset() const {
  const uint64_t data = FindAttribute(RecordOffset(6), 0x80);
  if (!data || !Get(data + 8, 1)) return 0;
  const uint64_t pairs = data + Get(data + 0x20, 2);
  const int length_bytes = bytes_[pairs] & 0xf, offset_bytes = bytes_[pairs] >> 4;
  const uint64_t lcn = Get(pairs + 1 + length_bytes, offset_bytes);
  return lcn * cluster_size_ < bytes_.size() ? lcn * cluster_size_ : 0;
}

uint64_t ImageBytes::ListedFileRecord() const {
  for (uint64_t number = 16; number < 256; ++number) {
    const uint64_t record = RecordOffset(number);
    if (!record) break;
    const uint64_t list = FindAttribute(record, 0x20);
    if (list && (Get(record + 0x16, 2) & 1)) return record;
  }
  return 0;
}

std::vector<uint64_t> ImageBytes::ListEntries(uint64_t record) const {
  std::vector<uint64_t> entries;
  const uint64_t list = record ? FindAttribute(record, 0x20) : 0;
  if (!list) return entries;
  uint64_t start = list + Get(list + 0x14, 2);
  uint64_t end = start + Get(list + 0x10, 4);
  if (Get(list + 8, 1)) {  // non-resident: its first run, where a short list lies whole
    const uint64_t pairs = list + Get(list + 0x20, 2);
    const int length_bytes = bytes_[pairs] & 0xf, offset_bytes = bytes_[pairs] >> 4;
    start = Get(pairs + 1 + length_bytes, offset_bytes) * cluster_size_;
    end = start + std::min<uint64_t>(Get(list + 0x30, 8), Get(pairs + 1, length_bytes) * cluster_size_);
  }
  for (uint64_t at = start; at + 26 <= end && at + 26 <= bytes_.size();) {
    entries.push_back(at);
    const uint64_t length = Get(at + 4, 2);
    if (length < 26) break;
    at += length;
  }
  return entries;
}

namespace {

struct Field {
  uint32_t offset;
  int width;
};

// Boot sector: bytes per sector, sectors per cluster, total sectors, the LCNs
// of $MFT and its mirror, the record and index block sizes.
constexpr Field kBootFields[] = {{0x0b, 2}, {0x0d, 1}, {0x28, 8}, {0x30, 8},
                                 {0x38, 8}, {0x40, 1}, {0x44, 1}};
// File record header: update sequence offset and count, flags, first
// attribute, bytes in use and allocated, base record.
constexpr Field kRecordFields[] = {{0x04, 2}, {0x06, 2}, {0x14, 2}, {0x16, 2},
                                   {0x18, 4}, {0x1c, 4}, {0x20, 8}};
// Attribute header: type, length, non-resident flag, name length and offset,
// flags, and for non-resident ones the VCNs, mapping pairs offset and sizes.
constexpr Field kAttributeFields[] = {{0x00, 4}, {0x04, 4}, {0x08, 1}, {0x09, 1}, {0x0a, 2},
                                      {0x0c, 2}, {0x10, 8}, {0x18, 8}, {0x20, 2}, {0x28, 8},
                                      {0x30, 8}, {0x38, 8}};

uint64_t InterestingValue(std::mt19937_64& rng, uint64_t original, int width) {
  const uint64_t all = width == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
  switch (rng() % 8) {
    case 0: return 0;
    case 1: return all;
    case 2: return all >> 1;                                   // largest signed
    case 3: return (uint64_t{1} << (rng() % (8 * width))) & all;
    case 4: return (original + 1 + rng() % 16) & all;
    case 5: return (original - 1 - rng() % 16) & all;
    case 6: return (original ^ (uint64_t{1} << (rng() % (8 * width)))) & all;
    default: return rng() & all;
  }
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

// A record worth damaging: the system files, the root folder, and the
// first records of files.
uint64_t PickRecord(std::mt19937_64& rng) {
  const uint64_t choices[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  return rng() % 3 == 0 ? choices[rng() % 12] : 24 + rng() % 40;
}

}  // namespace

namespace {

// Attribute list entry: type, length, name length and offset, lowest VCN,
// record reference (number, sequence), instance. Its length is drawn most.
constexpr Field kListEntryFields[] = {{0x04, 2}, {0x04, 2}, {0x04, 2}, {0x00, 4}, {0x06, 1},
                                      {0x07, 1}, {0x08, 8}, {0x10, 6}, {0x16, 2}, {0x18, 2}};

std::string DamageAttributeList(ImageBytes& image, std::mt19937_64& rng) {
  const uint64_t record = image.ListedFileRecord();
  const std::vector<uint64_t> entries = image.ListEntries(record);
  if (entries.empty()) return "no attribute list";
  const uint64_t entry = entries[rng() % entries.size()];
  const Field field = kListEntryFields[rng() % std::size(kListEntryFields)];
  const uint64_t value = InterestingValue(rng, image.Get(entry + field.offset, field.width), field.width);
  image.Put(entry + field.offset, field.width, value);
  return "attribute list entry at " + Hex(entry - record) + " of record at " + Hex(record) +
         " field " + Hex(field.offset) + "=" + Hex(value);
}

std::string DamageBackupBoot(ImageBytes& image, std::mt19937_64& rng) {
  const uint64_t at = image.BackupBootOffset() + rng() % 512;
  if (at >= image.bytes().size()) return "no backup boot sector";
  const uint64_t value = image.Get(at, 1) ^ (1 + rng() % 255);
  image.Put(at, 1, value);
  return "backup boot sector byte " + Hex(at - image.BackupBootOffset()) + "=" + Hex(value);
}

}  // namespace

std::string DamageImage(ImageBytes& image, uint64_t seed, DamageKind kind) {
  std::mt19937_64 rng(seed);
  std::string done;
  if (!image.ok()) return "not NTFS";
  if (kind == DamageKind::kAttributeList) return DamageAttributeList(image, rng);
  if (kind == DamageKind::kBackupBoot) return DamageBackupBoot(image, rng);
  const int damages = 1 + static_cast<int>(rng() % 3);
  for (int d = 0; d < damages; ++d) {
    if (!done.empty()) done += "; ";
    switch (rng() % 6) {
      case 0: {
        const Field field = kBootFields[rng() % std::size(kBootFields)];
        const uint64_t value = InterestingValue(rng, image.Get(field.offset, field.width), field.width);
        image.Put(field.offset, field.width, value);
        done += "boot " + Hex(field.offset) + "=" + Hex(value);
        break;
      }
      case 1: {
        const uint64_t number = PickRecord(rng);
        const uint64_t record = image.RecordOffset(number);
        if (!record) break;
        const Field field = kRecordFields[rng() % std::size(kRecordFields)];
        const uint64_t value =
            InterestingValue(rng, image.Get(record + field.offset, field.width), field.width);
        image.Put(record + field.offset, field.width, value);
        done += "record " + std::to_string(number) + " " + Hex(field.offset) + "=" + Hex(value);
        break;
      }
      case 2:
      case 3: {
        const uint64_t number = PickRecord(rng);
        const std::vector<uint64_t> attributes = image.Attributes(image.RecordOffset(number));
        if (attributes.empty()) break;
        const uint64_t attribute = attributes[rng() % attributes.size()];
        const bool runs = image.Get(attribute + 8, 1) && rng() % 2;
        if (runs) {
          // A byte of the mapping pairs: a header's sizes, a length or LCN.
          const uint64_t pairs = attribute + image.Get(attribute + 0x20, 2);
          const uint64_t span = std::max<uint64_t>(1, image.Get(attribute + 4, 4) - image.Get(attribute + 0x20, 2));
          const uint64_t at = pairs + rng() % std::min<uint64_t>(span, 24);
          const uint64_t value = InterestingValue(rng, image.Get(at, 1), 1);
          image.Put(at, 1, value);
          done += "runlist of record " + std::to_string(number) + " +" + Hex(at - pairs) + "=" + Hex(value);
        } else {
          const Field field = kAttributeFields[rng() % std::size(kAttributeFields)];
          const uint64_t value =
              InterestingValue(rng, image.Get(attribute + field.offset, field.width), field.width);
          image.Put(attribute + field.offset, field.width, value);
          done += "attribute of record " + std::to_string(number) + " +" +
                  Hex(attribute - image.RecordOffset(number)) + " field " + Hex(field.offset) + "=" +
                  Hex(value);
        }
        break;
      }
      case 4: {
        const uint64_t bitmap = image.BitmapOffset();
        if (!bitmap) break;
        const uint64_t at = bitmap + (rng() % 2 ? 0 : rng() % image.cluster_size());
        if (rng() % 2) {
          const uint64_t length = std::min<uint64_t>(512, image.bytes().size() - at);
          std::memset(image.bytes().data() + at, rng() % 2 ? 0 : 0xff, length);
          done += "bitmap sector at " + Hex(at) + " filled";
        } else {
          image.Put(at, 1, image.Get(at, 1) ^ (1u << (rng() % 8)));
          done += "bitmap bit at " + Hex(at) + " flipped";
        }
        break;
      }
      default: {
        // A few random bytes somewhere in the first records.
        const uint64_t at = image.mft_offset() + rng() % (40ull * image.record_size());
        const uint64_t value = rng() & 0xff;
        image.Put(at, 1, value);
        done += "byte " + Hex(at) + "=" + Hex(value);
        break;
      }
    }
  }
  return done;
}

}  // namespace shardix::test
