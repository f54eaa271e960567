#include "cli/demo_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "volume/error_codes.h"
#include "volume/ntfsimage/image_writer.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace shardix::cli {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kImageBytes = 256ull << 20;
constexpr uint64_t kDemoFileBytes = 6ull << 20;

#ifndef _WIN32
// mkntfs lives in sbin, which is not on every user's PATH.
std::string FindMkntfs() {
  for (const char* dir : {"/usr/sbin", "/sbin", "/usr/local/sbin", "/usr/bin"}) {
    fs::path candidate = fs::path(dir) / "mkntfs";
    std::error_code error;
    if (fs::exists(candidate, error)) return candidate.string();
  }
  return "mkntfs";
}
#endif

// Bytes that do not compress and differ per file.
std::vector<uint8_t> FileBytes(uint64_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 1;
  for (uint8_t& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

bool Write(const std::string& image, const std::string& inner, uint64_t size, uint32_t seed) {
  std::string error;
  if (WriteFileToImage(image, inner, FileBytes(size, seed), &error) != kErrorSuccess) {
    std::fprintf(stderr, "shardix: writing %s: %s\n", inner.c_str(), error.c_str());
    return false;
  }
  return true;
}

std::string NewTemporaryFolder() {
  fs::path base = fs::temp_directory_path();
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    fs::path candidate = base / ("shardix-demo-" + std::to_string(std::rand() % 1000000));
    std::error_code error;
    if (fs::create_directory(candidate, error)) return candidate.string();
  }
  return "";
}

bool RunMkntfs(const std::string& image, const NtfsFormat& format, const char* who) {
#ifdef _WIN32
  (void)image;
  (void)format;
  std::fprintf(stderr, "%s: making an NTFS image needs mkntfs, which this system lacks\n", who);
  return false;
#else
  std::string program = FindMkntfs();
  std::vector<std::string> words = {"mkntfs", "-F", "-q", "-Q", "-c", std::to_string(format.cluster_size),
                                    "-L", format.label};
  if (format.sector_size) words.insert(words.end(), {"-s", std::to_string(format.sector_size)});
  if (format.zero_time) words.push_back("-T");
  words.push_back(image);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child < 0) {
    std::fprintf(stderr, "%s: fork: %s\n", who, std::strerror(errno));
    return false;
  }
  if (child == 0) {
    // mkntfs talks about boot geometry an image does not have; its exit
    // status says all that matters here.
    if (FILE* quiet = std::fopen("/dev/null", "w")) {
      dup2(fileno(quiet), STDOUT_FILENO);
      dup2(fileno(quiet), STDERR_FILENO);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s: %s failed on %s (is the ntfs-3g package installed?)\n", who,
                 program.c_str(), image.c_str());
    return false;
  }
  return true;
#endif
}

}  // namespace

bool FormatNewImage(const std::string& image, uint64_t bytes, const NtfsFormat& format,
                    const char* who) {
  std::error_code error;
  fs::remove(image, error);
  {
    FILE* file = std::fopen(image.c_str(), "wb");
    if (!file) {
      std::fprintf(stderr, "%s: cannot create %s: %s\n", who, image.c_str(), std::strerror(errno));
      return false;
    }
    std::fclose(file);
  }
  fs::resize_file(image, bytes, error);  // sparse: costs no disk space yet
  if (error) {
    std::fprintf(stderr, "%s: cannot size %s: %s\n", who, image.c_str(), error.message().c_str());
    return false;
  }
  return RunMkntfs(image, format, who);
}

bool MakeDemoImage(const std::string& folder, bool replace, DemoImage* out) {
  std::error_code error;
  out->folder = folder.empty() ? NewTemporaryFolder() : folder;
  if (out->folder.empty() || (!fs::create_directories(out->folder, error) && error)) {
    std::fprintf(stderr, "shardix: cannot make the folder %s: %s\n", out->folder.c_str(),
                 error.message().c_str());
    return false;
  }
  out->image = (fs::path(out->folder) / "demo.img").string();
  out->file_path = out->image + "/demo.bin";
  if (fs::exists(fs::symlink_status(out->image, error)) && !replace) {
    std::fprintf(stderr, "shardix: %s exists; nothing was changed (--force replaces it)\n",
                 out->image.c_str());
    return false;
  }

  if (!FormatNewImage(out->image, kImageBytes, NtfsFormat{}, "shardix demo")) return false;

  // Forty files of 0.5 to 3 MiB, then every other one deleted again: the
  // free space between the survivors is what the demo file lands in.
  for (uint32_t i = 0; i < 40; ++i) {
    uint64_t size = (512u << 10) + (i * 7919u % 5) * (640u << 10);
    if (!Write(out->image, "/file" + std::to_string(i) + ".dat", size, i + 1)) return false;
  }
  for (uint32_t i = 0; i < 40; i += 2) {
    std::string message;
    if (DeleteFileFromImage(out->image, "/file" + std::to_string(i) + ".dat", &message) !=
        kErrorSuccess) {
      std::fprintf(stderr, "shardix: deleting a file: %s\n", message.c_str());
      return false;
    }
  }
  if (!Write(out->image, "/notes.txt", 300, 99)) return false;  // held in its file record
  return Write(out->image, "/demo.bin", kDemoFileBytes, 4242);
}

}  // namespace shardix::cli
