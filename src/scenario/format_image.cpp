#include "scenario/format_image.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace shardix::scenario {

namespace {

namespace fs = std::filesystem;

// mkntfs lives in sbin, which is not on every user's PATH.
std::string FindMkntfs() {
  for (const char* dir : {"/usr/sbin", "/sbin", "/usr/local/sbin", "/usr/bin"}) {
    fs::path candidate = fs::path(dir) / "mkntfs";
    std::error_code error;
    if (fs::exists(candidate, error)) return candidate.string();
  }
  return "mkntfs";
}

bool RunMkntfs(const std::string& image, const NtfsFormat& format, std::string* error) {
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
    *error = std::string("fork: ") + std::strerror(errno);
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
    *error = program + " failed on " + image + " (is the ntfs-3g package installed?)";
    return false;
  }
  return true;
}

}  // namespace

bool FormatNewImage(const std::string& image, uint64_t bytes, const NtfsFormat& format,
                    std::string* error) {
  std::error_code failure;
  fs::remove(image, failure);
  {
    FILE* file = std::fopen(image.c_str(), "wb");
    if (!file) {
      *error = "cannot create " + image + ": " + std::strerror(errno);
      return false;
    }
    std::fclose(file);
  }
  fs::resize_file(image, bytes, failure);  // sparse: costs no disk space yet
  if (failure) {
    *error = "cannot size " + image + ": " + failure.message();
    return false;
  }
  return RunMkntfs(image, format, error);
}

}  // namespace shardix::scenario
