// Setting the time stamps libntfs-3g wrote while an image was built to one
// fixed time, so that the same build gives the same bytes whenever it runs.
#pragma once

#include <cstdint>
#include <string>

struct _ntfs_volume;

namespace shardix::ntfsimage {

// Every time stamp the calendar clock gave from `since` (Unix seconds) until
// now becomes `pinned`: in the standard information and FILE_NAME attributes
// of every MFT record, in use or deleted, and in the folders' index entries,
// live or left over from deleted names, and index blocks left in free
// clusters. Other stamps (mkntfs -T's, and
// those of files copied in with their own) are left as they are. Returns 0
// or a Windows code, with a line for people in *error.
uint32_t PinTimeStamps(struct _ntfs_volume* vol, int64_t since, int64_t pinned, std::string* error);

}  // namespace shardix::ntfsimage
