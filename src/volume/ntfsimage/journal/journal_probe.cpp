#include "volume/ntfsimage/journal/journal_probe.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "volume/unicode_text.h"
#include "volume/ntfsimage/journal/internal/journal_file.h"

namespace shardix::ntfsimage {

// A block as large as the file systems' own, so that a full one says so.
constexpr size_t kProbeBytes = 4096;

int ProbeJournalPlace(const std::string& journal_path, std::string* words) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder = PathFromUtf8(journal_path).parent_path();
  if (!folder.empty()) fs::create_directories(folder, error);
  if (error) {
    *words = error.message();
    return error.value() ? error.value() : EIO;
  }
  const std::string probe = journal_path + ".probe";
  JournalFile file;
  int err = file.Open(probe, true);
  if (err == 0) {
    const std::vector<uint8_t> block(kProbeBytes, 0);
    err = file.WriteAt(0, block.data(), block.size());
    if (err == 0) err = file.Flush();
    file.Close();
    if (err == 0) err = FlushFolderOf(probe);
    fs::remove(PathFromUtf8(probe), error);
  }
  if (err) *words = std::strerror(err);
  return err;
}

}  // namespace shardix::ntfsimage
