// Before the first move of a job on an image: the image must take writes
// and the journal must be makeable where it goes, or the job is refused
// with nothing moved. Private to this folder.
#pragma once

#include <cstdint>
#include <string>

namespace shardix::ntfsimage {

class ImageMount;

// 0 when the image or device opens for writing now, else the errno.
int ImageWriteErrno(const std::string& image);

// 0, or the code with *refusal naming the path in the way and what to do.
// Call with mount.lock() held.
uint32_t CheckMovesCanBeKept(ImageMount& mount, std::string* refusal);

}  // namespace shardix::ntfsimage
