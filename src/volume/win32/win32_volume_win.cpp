#include <windows.h>
#include <winioctl.h>

#include <cstring>

#include "volume/error_codes.h"
#include "volume/wide_text.h"
#include "volume/win32/win32_volume.h"

namespace shardix {

namespace {

class Win32File final : public VolumeFile {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { CloseHandle(handle_); }

  HANDLE handle() const { return handle_; }

  uint32_t GetSize(uint64_t* size) override {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(handle_, &value)) return GetLastError();
    *size = static_cast<uint64_t>(value.QuadPart);
    return kErrorSuccess;
  }

  uint32_t GetRetrievalPointers(int64_t starting_vcn, void* out, std::size_t out_size,
                                std::size_t* bytes_returned) override {
    STARTING_VCN_INPUT_BUFFER input;
    input.StartingVcn.QuadPart = starting_vcn;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(handle_, FSCTL_GET_RETRIEVAL_POINTERS, &input, sizeof input, out,
                              static_cast<DWORD>(out_size), &returned, nullptr);
    if (bytes_returned) *bytes_returned = returned;
    return ok ? uint32_t{kErrorSuccess} : static_cast<uint32_t>(GetLastError());
  }

 private:
  HANDLE handle_;
};

class Win32Volume final : public Volume {
 public:
  Win32Volume(HANDLE handle, std::string drive) : handle_(handle), drive_(std::move(drive)) {}
  ~Win32Volume() override { CloseHandle(handle_); }

  uint32_t GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                           std::size_t* bytes_returned) override {
    STARTING_LCN_INPUT_BUFFER input;
    input.StartingLcn.QuadPart = starting_lcn;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(handle_, FSCTL_GET_VOLUME_BITMAP, &input, sizeof input, out,
                              static_cast<DWORD>(out_size), &returned, nullptr);
    if (bytes_returned) *bytes_returned = returned;
    return ok ? uint32_t{kErrorSuccess} : static_cast<uint32_t>(GetLastError());
  }

  uint32_t MoveClusters(VolumeFile& file, int64_t starting_vcn, int64_t target_lcn,
                    uint32_t cluster_count) override {
    auto* win32_file = dynamic_cast<Win32File*>(&file);
    if (!win32_file) return kErrorInvalidParameter;
    MOVE_FILE_DATA move;
    std::memset(&move, 0, sizeof move);
    move.FileHandle = win32_file->handle();
    move.StartingVcn.QuadPart = starting_vcn;
    move.StartingLcn.QuadPart = target_lcn;
    move.ClusterCount = cluster_count;
    DWORD returned = 0;
    if (!DeviceIoControl(handle_, FSCTL_MOVE_FILE, &move, sizeof move, nullptr, 0, &returned,
                         nullptr))
      return GetLastError();
    return kErrorSuccess;
  }

  uint32_t GetGeometry(VolumeGeometry* geometry) override {
    const std::wstring root = WideFromUtf8(drive_) + L"\\";
    DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, total_clusters = 0;
    if (!GetDiskFreeSpaceW(root.c_str(), &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                           &total_clusters))
      return GetLastError();
    geometry->sectors_per_cluster = sectors_per_cluster;
    geometry->bytes_per_sector = bytes_per_sector;
    geometry->free_clusters = free_clusters;
    geometry->total_clusters = total_clusters;
    return kErrorSuccess;
  }

  std::string DisplayName() const override { return drive_; }

 private:
  HANDLE handle_;
  std::string drive_;
};

}  // namespace

std::string DriveOfPath(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
    return path.substr(0, 2);
  return "";
}

uint32_t OpenWin32File(const std::string& path, std::unique_ptr<VolumeFile>* out) {
  HANDLE handle = CreateFileW(WidePathForOpen(path).c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  *out = std::make_unique<Win32File>(handle);
  return kErrorSuccess;
}

uint32_t OpenWin32Volume(const std::string& path, std::unique_ptr<Volume>* out) {
  std::string drive = DriveOfPath(path);
  if (drive.empty()) return kErrorAccessDenied;
  const std::wstring device = L"\\\\.\\" + WideFromUtf8(drive);
  HANDLE handle = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  *out = std::make_unique<Win32Volume>(handle, drive);
  return kErrorSuccess;
}

}  // namespace shardix
