// Texts of the codes this program defines itself; the system has none.
#include "volume/error_codes.h"

namespace shardix {

const char* OwnErrorMessage(uint32_t code) {
  switch (code) {
    case kErrorNotImageFile:
      return "The path names a pipe, socket or character device, not an image file or a block "
             "device.";
    case kErrorVolumeMapDisagrees:
      return "The volume's free-space map disagrees with its files; repair it with chkdsk first";
    default:
      return nullptr;
  }
}

}  // namespace shardix
