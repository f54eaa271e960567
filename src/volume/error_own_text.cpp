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
    case kErrorInterruptedChange:
      return "A change to the volume was interrupted and no journal was found to finish it; nothing "
             "on it is moved until it is recovered or checked (see the warning)";
    case kErrorJournalKeptAside:
      return "The journal of an interrupted change does not fit the image as it is now; it was "
             "kept aside and the image left as it is (see the message before this one)";
    case kErrorNotInsideImage:
      return "It is an image, not a file inside one; name a file in it as IMAGE/path/in/image";
    default:
      return nullptr;
  }
}

}  // namespace shardix
