#include "tests/volume/ntfsimage_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "volume/error_codes.h"
#include "volume/unicode_text.h"
#ifdef _WIN32
#include "tests/volume/wine_host.h"
#endif

namespace shardix::test {

#ifdef _WIN32
// Under Wine: the tools run on the Linux side through tests/volume/wine_host.h.
std::string ToolPath(const std::string& path) { return wine_host::UnixPath(path); }

ScratchDir::ScratchDir() {
  static int counter = 0;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path dir =
        base / ("shardix-ntfs-" + std::to_string(_getpid()) + "-" + std::to_string(counter++));
    std::error_code error;
    if (std::filesystem::create_directory(dir, error)) path_ = dir.string();
  }
}
#else
std::string ToolPath(const std::string& path) { return path; }

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "shardix-ntfs-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data())) path_ = buffer.data();
}
#endif

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

#ifdef _WIN32
std::string RunCommand(const std::string& command, bool* ok) {
  std::string output;
  std::string why;
  if (!wine_host::Available(&why)) ADD_FAILURE() << why;
  const bool success = wine_host::Run(command + " 2>/dev/null", &output) == 0;
  if (ok) *ok = success;
  return success ? output : std::string();
}
#else
std::string RunCommand(const std::string& command, bool* ok) {
  std::string output;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) {
    if (ok) *ok = false;
    return output;
  }
  char buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int status = pclose(pipe);
  const bool success = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (ok) *ok = success;
  return success ? output : std::string();
}

int RunCommandStatus(const std::string& command, std::string* out) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, got);
  const int status = pclose(pipe);
  if (out) *out = text;
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool MakeNtfsImage(const std::string& image, uint64_t bytes, uint32_t cluster_size) {
  {
    std::ofstream create(PathFromUtf8(image), std::ios::binary | std::ios::trunc);
    if (!create) return false;
  }
  std::error_code error;
  std::filesystem::resize_file(PathFromUtf8(image), bytes, error);
  if (error) return false;
  bool ok = false;
  RunCommand("mkntfs -F -q -Q -c " + std::to_string(cluster_size) + " -s 512 " + ShellQuote(ToolPath(image)),
             &ok);
  return ok;
}

namespace {

#ifndef _WIN32
bool IsMountPoint(const std::string& dir) {
  std::ifstream mounts("/proc/self/mounts");
  std::string device, point, rest;
  while (mounts >> device >> point && std::getline(mounts, rest))
    if (point == dir) return true;
  return false;
}
#endif

}  // namespace

#ifdef _WIN32
// Under Wine the driver runs on the Linux side; its job marks the mount and
// leaves the driver's exit status once it has ended.
FuseMount::FuseMount(const std::string& image, const std::string& dir) : dir_(dir) {
  std::filesystem::create_directories(dir);
  auto job = std::make_shared<wine_host::Job>();
  const std::string mount_dir = ShellQuote(ToolPath(dir));
  const bool started = job->Start(
      "ntfs-3g -o no_detach " + ShellQuote(ToolPath(image)) + " " + mount_dir + " &\n"
      "driver=$!\n"
      "while kill -0 $driver 2>/dev/null; do\n"
      "  if mountpoint -q " + mount_dir + "; then : >\"$SHARDIX_JOB_DIR/mounted\"; break; fi\n"
      "  sleep 0.02\n"
      "done\n"
      "wait $driver\n");
  if (!started) {
    ADD_FAILURE() << job->error();
    return;
  }
  for (int i = 0; i < 1000; ++i) {
    if (job->HasMarker("mounted")) {
      host_job_ = job;
      driver_ = 0;
      ok_ = true;
      return;
    }
    if (job->Ended()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  RunCommand("umount " + mount_dir, nullptr);  // a late mount must not linger
}

bool FuseMount::Unmount() {
  if (driver_ < 0) return false;
  auto job = std::static_pointer_cast<wine_host::Job>(host_job_);
  bool ok = false;
  RunCommand("umount " + ShellQuote(ToolPath(dir_)), &ok);
  const int status = job->Wait(120);
  driver_ = -1;
  ok_ = false;
  host_job_.reset();
  return ok && status == 0;
}
#else

FuseMount::FuseMount(const std::string& image, const std::string& dir) : dir_(dir) {
  std::filesystem::create_directories(dir);
  driver_ = fork();
  if (driver_ == 0) {
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    execlp("ntfs-3g", "ntfs-3g", "-o", "no_detach", image.c_str(), dir.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  if (driver_ < 0) return;
  for (int i = 0; i < 200; ++i) {
    if (IsMountPoint(dir_)) {
      ok_ = true;
      return;
    }
    int status;
    if (waitpid(driver_, &status, WNOHANG) == driver_) {
      driver_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

bool FuseMount::Unmount() {
  if (driver_ < 0) return false;
  bool ok = false;
  RunCommand("umount " + ShellQuote(dir_), &ok);
  if (!ok) kill(driver_, SIGTERM);
  int status = 0;
  waitpid(driver_, &status, 0);
  driver_ = -1;
  ok_ = false;
  return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#endif

FuseMount::~FuseMount() {
  if (driver_ >= 0) Unmount();
}

#ifdef _WIN32
#define fsync _commit
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
  if (fd < 0) return false;
  bool ok = bytes.empty() || write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ok = fsync(fd) == 0 && ok;
  return close(fd) == 0 && ok;
}

bool AppendToFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_BINARY, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ok = fsync(fd) == 0 && ok;
  return close(fd) == 0 && ok;
}

std::vector<uint8_t> PseudoRandomBytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> bytes(count);
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = 0; i < count; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    bytes[i] = static_cast<uint8_t>(state >> 56);
  }
  return bytes;
}

namespace {

int64_t NumberAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return -1;
  return std::strtoll(text.c_str() + at + label.size(), nullptr, 0);
}

}  // namespace

ImageFacts ReadImageFacts(const std::string& image) {
  ImageFacts facts;
  bool ok = false;
  const std::string info = RunCommand("ntfsinfo -m " + ShellQuote(ToolPath(image)), &ok);
  if (!ok) return facts;
  facts.cluster_size = static_cast<uint32_t>(NumberAfter(info, "Cluster Size:"));
  facts.cluster_count = static_cast<uint64_t>(NumberAfter(info, "Volume Size in Clusters:"));
  facts.mft_lcn = NumberAfter(info, "LCN of Data Attribute for FILE_MFT:");
  return facts;
}

std::vector<ExpectedExtent> NtfsinfoExtents(const std::string& image, const std::string& inner_path) {
  bool ok = false;
  const std::string info =
      RunCommand("ntfsinfo -v -F " + ShellQuote(inner_path) + " " + ShellQuote(ToolPath(image)), &ok);
  std::vector<ExpectedExtent> runs;
  std::istringstream lines(info);
  std::string line;
  bool in_data = false, unnamed = false, in_runlist = false;
  while (std::getline(lines, line)) {
    if (line.rfind("Dumping attribute", 0) == 0) {
      in_data = line.find("$DATA (0x80)") != std::string::npos;
      unnamed = false;
      in_runlist = false;
      continue;
    }
    if (!in_data) continue;
    if (line.find("Name length:") != std::string::npos) {
      unnamed = NumberAfter(line, "Name length:") == 0;
      continue;
    }
    if (line.find("Runlist:") != std::string::npos) {
      in_runlist = unnamed;
      continue;
    }
    if (!in_runlist) continue;
    std::istringstream fields(line);
    std::string vcn_text, lcn_text, length_text;
    if (!(fields >> vcn_text >> lcn_text >> length_text) || vcn_text.rfind("0x", 0) != 0) {
      in_runlist = false;
      continue;
    }
    const int64_t vcn = std::strtoll(vcn_text.c_str(), nullptr, 16);
    const int64_t length = std::strtoll(length_text.c_str(), nullptr, 16);
    int64_t lcn;
    if (lcn_text == "<HOLE>") lcn = -1;
    else if (lcn_text.rfind("0x", 0) == 0) lcn = std::strtoll(lcn_text.c_str(), nullptr, 16);
    else continue;  // a part described by another record
    runs.push_back({vcn, vcn + length, lcn});
  }
  std::sort(runs.begin(), runs.end(),
            [](const ExpectedExtent& a, const ExpectedExtent& b) { return a.vcn < b.vcn; });
  std::vector<ExpectedExtent> joined;
  for (const ExpectedExtent& run : runs) {
    if (!joined.empty() && joined.back().lcn == -1 && run.lcn == -1 && joined.back().next_vcn == run.vcn)
      joined.back().next_vcn = run.next_vcn;
    else
      joined.push_back(run);
  }
  return joined;
}

int64_t NtfsinfoRecordNumber(const std::string& image, const std::string& inner_path) {
  bool ok = false;
  const std::string info =
      RunCommand("ntfsinfo -F " + ShellQuote(inner_path) + " " + ShellQuote(ToolPath(image)), &ok);
  return ok ? NumberAfter(info, "Dumping Inode ") : -1;
}

std::vector<uint8_t> NtfscatBytes(const std::string& image, const std::string& inner_path) {
  bool ok = false;
  const std::string out = RunCommand("ntfscat " + ShellQuote(ToolPath(image)) + " " + ShellQuote(inner_path), &ok);
  return std::vector<uint8_t>(out.begin(), out.end());
}

std::vector<uint8_t> NtfscatBitmap(const std::string& image, uint64_t cluster_count) {
  std::vector<uint8_t> bitmap = NtfscatBytes(image, "/$Bitmap");
  bitmap.resize((cluster_count + 7) / 8);
  if (cluster_count % 8) bitmap.back() &= static_cast<uint8_t>((1u << (cluster_count % 8)) - 1);
  return bitmap;
}

std::vector<ExpectedExtent> ListExtentsOneByOne(VolumeFile& file) {
  std::vector<ExpectedExtent> extents;
  int64_t vcn = 0;
  for (;;) {
    RetrievalPointersBuffer out{};
    const uint32_t code = file.GetRetrievalPointers(vcn, &out, sizeof out, nullptr);
    if (code == kErrorHandleEof) break;
    if (code != kErrorSuccess && code != kErrorMoreData) {
      ADD_FAILURE() << "GetRetrievalPointers at VCN " << vcn << " answered " << code;
      break;
    }
    extents.push_back({out.starting_vcn, out.extents[0].next_vcn, out.extents[0].lcn});
    if (code == kErrorSuccess) break;
    vcn = out.extents[0].next_vcn;
  }
  return extents;
}

std::vector<uint8_t> ReadBitmapThrough(Volume& volume, uint64_t cluster_count) {
  std::vector<uint8_t> buffer(kVolumeBitmapHeaderSize + (cluster_count + 7) / 8, 0);
  std::size_t returned = 0;
  const uint32_t code = volume.GetVolumeBitmap(0, buffer.data(), buffer.size(), &returned);
  EXPECT_EQ(code, kErrorSuccess);
  return std::vector<uint8_t>(buffer.begin() + kVolumeBitmapHeaderSize, buffer.end());
}

std::vector<uint8_t> ReadHostFile(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteHostBytes(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  if (!out) return false;
  out.seekp(static_cast<std::streamoff>(offset));
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace shardix::test
