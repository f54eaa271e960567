// Helpers for the tests of the NTFS image backend: scratch folders, fresh
// images from mkntfs, a FUSE mount to fill them, and oracles read with the
// ntfs-3g tools (independent of the code under test).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/volume/conformance.h"

namespace shardix::test {

// A fresh folder under the system's temporary folder, removed with its
// contents at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Runs a shell command; its standard output, or "" with *ok false when it
// exits non-zero.
std::string RunCommand(const std::string& command, bool* ok);
#ifndef _WIN32
// Runs a shell command with its error stream joined to its output: the exit
// status (-1 when it did not exit), and what it printed in *out (if given).
int RunCommandStatus(const std::string& command, std::string* out);
#endif
// A host file's bytes as text ("" when it cannot be read).
std::string ReadText(const std::string& path);
std::string ShellQuote(const std::string& text);
// The path under which the ntfs-3g tools see `path`: itself, or under Wine
// its Linux path (the tools run on the Linux side there).
std::string ToolPath(const std::string& path);

// A sparse file of `bytes` formatted by mkntfs; false on failure.
bool MakeNtfsImage(const std::string& image, uint64_t bytes, uint32_t cluster_size);

// `image` mounted with ntfs-3g at `dir` for as long as the object lives;
// unmounting waits until the driver has written everything back.
class FuseMount {
 public:
  FuseMount(const std::string& image, const std::string& dir);
  ~FuseMount();
  FuseMount(const FuseMount&) = delete;
  FuseMount& operator=(const FuseMount&) = delete;
  bool ok() const { return ok_; }
  // Unmounts now; true when the driver ended cleanly.
  bool Unmount();

 private:
  std::string dir_;
  pid_t driver_ = -1;
  bool ok_ = false;
#ifdef _WIN32
  std::shared_ptr<void> host_job_;  // under Wine: the driver's job on the Linux side
#endif
};

// Files written through a mount (with fsync, so clusters are taken in the
// order written).
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool AppendToFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> PseudoRandomBytes(size_t count, uint32_t seed);

// The oracles, from ntfsinfo and ntfscat.
struct ImageFacts {
  uint64_t cluster_count = 0;
  uint32_t cluster_size = 0;
  int64_t mft_lcn = -1;
};
ImageFacts ReadImageFacts(const std::string& image);
// The unnamed $DATA runlist of `inner_path` as ntfsinfo prints it, holes
// next to each other joined.
std::vector<ExpectedExtent> NtfsinfoExtents(const std::string& image, const std::string& inner_path);
// The MFT record number of `inner_path`, from ntfsinfo.
int64_t NtfsinfoRecordNumber(const std::string& image, const std::string& inner_path);
std::vector<uint8_t> NtfscatBytes(const std::string& image, const std::string& inner_path);
// The volume bitmap from ntfscat, cut to the cluster count, bits past the
// last cluster cleared.
std::vector<uint8_t> NtfscatBitmap(const std::string& image, uint64_t cluster_count);

// Through the layer under test: the extents one query at a time, and the
// whole bitmap.
std::vector<ExpectedExtent> ListExtentsOneByOne(VolumeFile& file);
std::vector<uint8_t> ReadBitmapThrough(Volume& volume, uint64_t cluster_count);

std::vector<uint8_t> ReadHostFile(const std::string& path);
bool WriteHostBytes(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes);

}  // namespace shardix::test
