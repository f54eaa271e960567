// Compile-time checks of libntfs-3g's on-disk structures as this program sees
// them. A build of the library whose headers lose their packing (as its
// Windows compatibility branch does when it defines __attribute__ away) must
// fail here, not corrupt an image at run time. The library's own compile is
// checked the same way by scripts/ntfs3g-mingw/layout_check.c.
#include <cstddef>

#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix {
namespace {

static_assert(sizeof(NTFS_BOOT_SECTOR) == 512, "boot sector");
static_assert(sizeof(BIOS_PARAMETER_BLOCK) == 25, "BIOS parameter block");
static_assert(offsetof(NTFS_BOOT_SECTOR, bpb) == 0x0b, "boot sector: BPB");
static_assert(offsetof(NTFS_BOOT_SECTOR, number_of_sectors) == 0x28, "boot sector: sector count");
static_assert(offsetof(NTFS_BOOT_SECTOR, mft_lcn) == 0x30, "boot sector: $MFT LCN");
static_assert(offsetof(NTFS_BOOT_SECTOR, clusters_per_mft_record) == 0x40, "boot sector: record size");
static_assert(offsetof(NTFS_BOOT_SECTOR, end_of_sector_marker) == 0x1fe, "boot sector: signature");

static_assert(sizeof(NTFS_RECORD) == 8, "record header");
static_assert(sizeof(MFT_RECORD) == 48, "file record header");
static_assert(offsetof(MFT_RECORD, attrs_offset) == 0x14, "file record: first attribute");
static_assert(offsetof(MFT_RECORD, base_mft_record) == 0x20, "file record: base record");
static_assert(offsetof(MFT_RECORD, mft_record_number) == 0x2c, "file record: number");

static_assert(sizeof(ATTR_RECORD) == 72, "attribute record");
static_assert(offsetof(ATTR_RECORD, value_offset) == 0x14, "resident attribute: value offset");
static_assert(offsetof(ATTR_RECORD, lowest_vcn) == 0x10, "non-resident attribute: lowest VCN");
static_assert(offsetof(ATTR_RECORD, mapping_pairs_offset) == 0x20, "non-resident attribute: mapping pairs");
static_assert(offsetof(ATTR_RECORD, data_size) == 0x30, "non-resident attribute: data size");
static_assert(offsetof(ATTR_RECORD, compressed_size) == 0x40, "non-resident attribute: compressed size");

static_assert(sizeof(ATTR_LIST_ENTRY) == 26, "attribute list entry");
static_assert(offsetof(ATTR_LIST_ENTRY, lowest_vcn) == 0x08, "attribute list entry: lowest VCN");
static_assert(offsetof(ATTR_LIST_ENTRY, mft_reference) == 0x10, "attribute list entry: record");
static_assert(sizeof(STANDARD_INFORMATION) == 72, "standard information");
static_assert(sizeof(FILE_NAME_ATTR) == 66, "file name attribute");
static_assert(offsetof(FILE_NAME_ATTR, file_name_length) == 0x40, "file name attribute: name length");
static_assert(sizeof(INDEX_HEADER) == 16, "index header");
static_assert(sizeof(INDEX_ROOT) == 32, "index root");
static_assert(sizeof(INDEX_BLOCK) == 40, "index block");
static_assert(sizeof(INDEX_ENTRY_HEADER) == 16, "index entry header");
static_assert(sizeof(VOLUME_INFORMATION) == 12, "volume information");
static_assert(sizeof(ATTR_DEF) == 160, "attribute definition");
static_assert(sizeof(SECURITY_DESCRIPTOR_RELATIVE) == 20, "security descriptor");

}  // namespace
}  // namespace shardix
