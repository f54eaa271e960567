// Linux programs from a Windows test program running under Wine. The image
// tests check the backend against the ntfs-3g tools (mkntfs, ntfsinfo,
// ntfscat, the ntfs-3g driver), which exist only on the Linux side; Wine
// starts Linux programs but can neither wait for them nor read their exit
// status, so each job runs a small shell wrapper that leaves its output and
// its status in files of its own folder, which the caller waits for.
#pragma once

#include <string>

namespace shardix::test::wine_host {

// True under Wine; otherwise false with *why telling what is missing.
bool Available(std::string* why);

// The Linux path of a Windows path and back ("" when it has none).
std::string UnixPath(const std::string& windows_path);
std::string WindowsPath(const std::string& unix_path);

// A shell script started on the Linux side. Its standard output goes to a
// file; it may leave marker files in "$SHARDIX_JOB_DIR".
class Job {
 public:
  Job() = default;
  ~Job();
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // Starts `script` with /bin/sh; false (with the reason in error()) when it
  // could not be started.
  bool Start(const std::string& script);
  // Waits until the script ends, at most `timeout_seconds`; its exit status,
  // or -1 on a timeout or when it never started.
  int Wait(double timeout_seconds);
  bool HasMarker(const std::string& name) const;
  // Whether it has ended, without waiting.
  bool Ended() const;
  // What it wrote on standard output (read after Wait).
  std::string Output() const;
  const std::string& error() const { return error_; }

 private:
  std::string dir_;  // Windows path of the job's folder
  std::string error_;
};

// Runs `command` with /bin/sh on the Linux side and waits for it: its exit
// status (-1 when it could not be run or did not end within 10 minutes);
// its standard output in *out.
int Run(const std::string& command, std::string* out);

}  // namespace shardix::test::wine_host
