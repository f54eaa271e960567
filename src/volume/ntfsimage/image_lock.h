// Windows only: a lock on an image file for as long as it is mounted.
// libntfs-3g's device code on Linux locks the image (fcntl) so that no two
// programs mount it at once; its Windows device code takes no lock. This one
// lies on a single byte far past the end of the file, so the library's own
// reads and writes through its handles are not hindered, while another
// program holding the image (another Shardix, or an ntfs-3g driver when we
// run under Wine, which maps the lock onto fcntl) makes it fail.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace shardix::ntfsimage {

// 0 with the lock in *lock (released when the last copy goes);
// ERROR_SHARING_VIOLATION when another program holds the image; otherwise
// the code of opening the file.
uint32_t LockImage(const std::string& path, bool for_writing, std::shared_ptr<void>* lock);

}  // namespace shardix::ntfsimage
