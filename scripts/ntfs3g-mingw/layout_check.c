/* Compiled by build-ntfs3g-windows.sh with the library's own config.h and
 * flags: its on-disk structures must keep their packing (a WINDOWS define in
 * config.h would make compat.h define __attribute__ away). The same sizes are
 * checked in our code, src/volume/ntfsimage/layout_checks.cpp. */
#include "config.h"
#include <stddef.h>
#include "compat.h"
#include "types.h"
#include "layout.h"

_Static_assert(sizeof(NTFS_BOOT_SECTOR) == 512, "boot sector");
_Static_assert(offsetof(NTFS_BOOT_SECTOR, mft_lcn) == 0x30, "boot sector: $MFT LCN");
_Static_assert(sizeof(MFT_RECORD) == 48, "file record header");
_Static_assert(sizeof(ATTR_RECORD) == 72, "attribute record");
_Static_assert(offsetof(ATTR_RECORD, mapping_pairs_offset) == 0x20, "attribute record: mapping pairs");
_Static_assert(sizeof(ATTR_LIST_ENTRY) == 26, "attribute list entry");
_Static_assert(sizeof(STANDARD_INFORMATION) == 72, "standard information");
_Static_assert(sizeof(FILE_NAME_ATTR) == 66, "file name attribute");
_Static_assert(sizeof(INDEX_ENTRY_HEADER) == 16, "index entry header");
_Static_assert(sizeof(SECURITY_DESCRIPTOR_RELATIVE) == 20, "security descriptor");
