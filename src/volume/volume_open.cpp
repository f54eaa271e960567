// Opening files and volumes by path: registered providers first, then the
// image-as-folder rule, then (on Windows) the mounted volume of the path.
#include <algorithm>
#include <mutex>
#include <vector>

#include "volume/error_codes.h"
#include "volume/image_path.h"
#include "volume/system_error.h"
#include "volume/volume.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <cerrno>
#endif

#ifdef SHARDIX_HAVE_NTFSIMAGE
#include "volume/ntfsimage/ntfs_image.h"
#endif
#ifdef _WIN32
#include "volume/wide_text.h"
#include "volume/win32/win32_volume.h"
#endif

namespace shardix {

namespace {

std::mutex& ProvidersLock() {
  static std::mutex lock;
  return lock;
}

std::vector<std::shared_ptr<VolumeProvider>>& Providers() {
  static std::vector<std::shared_ptr<VolumeProvider>> providers;
  return providers;
}

std::vector<std::shared_ptr<VolumeProvider>> SnapshotProviders() {
  std::lock_guard<std::mutex> hold(ProvidersLock());
  return Providers();
}

uint32_t OpenImageFileOrRefuse(const ImagePath& split, std::unique_ptr<VolumeFile>* out) {
#ifdef SHARDIX_HAVE_NTFSIMAGE
  return OpenImageFile(split.image, split.inner, out);
#else
  (void)split;
  (void)out;
  return kErrorNotSupported;
#endif
}

uint32_t OpenImageVolumeOrRefuse(const ImagePath& split, std::unique_ptr<Volume>* out) {
#ifdef SHARDIX_HAVE_NTFSIMAGE
  return OpenImageVolume(split.image, out);
#else
  (void)split;
  (void)out;
  return kErrorNotSupported;
#endif
}

#ifdef _WIN32
// A whole path that names a regular file is an image only when it holds an
// NTFS boot sector; otherwise it is an ordinary file on a mounted volume.
bool LooksLikeNtfsImage(const std::string& path) {
  FILE* file = _wfopen(WidePathForOpen(path).c_str(), L"rb");
  if (!file) return false;
  char boot[11] = {};
  size_t got = fread(boot, 1, sizeof boot, file);
  fclose(file);
  return got == sizeof boot && std::string(boot + 3, 8) == "NTFS    ";
}
#endif

#ifndef _WIN32
// Why a path outside any image cannot be opened, with the errno that says
// so: a folder is not a file, and a missing one is missing.
uint32_t HostPathRefusal(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return ErrorFromErrno(errno != 0 ? errno : ENOENT);
  return ErrorFromErrno(S_ISDIR(status.st_mode) ? EISDIR : ENOENT);
}
#endif

}  // namespace

void RegisterVolumeProvider(std::shared_ptr<VolumeProvider> provider) {
  std::lock_guard<std::mutex> hold(ProvidersLock());
  Providers().push_back(std::move(provider));
}

void UnregisterVolumeProvider(const VolumeProvider* provider) {
  std::lock_guard<std::mutex> hold(ProvidersLock());
  auto& providers = Providers();
  providers.erase(std::remove_if(providers.begin(), providers.end(),
                                 [provider](const auto& p) { return p.get() == provider; }),
                  providers.end());
}

uint32_t OpenFileByPath(const std::string& path, std::unique_ptr<VolumeFile>* out) {
  out->reset();
  ForgetSystemError();
  for (const auto& provider : SnapshotProviders()) {
    uint32_t result = provider->OpenFile(path, out);
    if (result != kErrorNotSupported) return result;
  }
  if (path.empty()) return kErrorPathNotFound;
  if (const uint32_t refused = RefuseSpecialFile(path)) return refused;
  ImagePath split;
  if (SplitImagePath(path, &split) && split.inner != "/") return OpenImageFileOrRefuse(split, out);
#ifdef _WIN32
  return OpenWin32File(path, out);
#else
  // Outside Windows only files inside NTFS images can be reached.
  return split.image.empty() ? HostPathRefusal(path) : kErrorNotInsideImage;
#endif
}

uint32_t OpenVolumeByPath(const std::string& path, std::unique_ptr<Volume>* out) {
  out->reset();
  ForgetSystemError();
  for (const auto& provider : SnapshotProviders()) {
    uint32_t result = provider->OpenVolume(path, out);
    if (result != kErrorNotSupported) return result;
  }
  if (path.empty()) return kErrorPathNotFound;
  if (const uint32_t refused = RefuseSpecialFile(path)) return refused;
  ImagePath split;
  bool in_image = SplitImagePath(path, &split);
  // A file named inside an image must exist, as for every other command.
  if (in_image && split.inner != "/") {
    std::unique_ptr<VolumeFile> file;
    if (const uint32_t code = OpenImageFileOrRefuse(split, &file)) return code;
  }
#ifdef _WIN32
  if (in_image && (split.inner != "/" || LooksLikeNtfsImage(split.image)))
    return OpenImageVolumeOrRefuse(split, out);
  return OpenWin32Volume(path, out);
#else
  if (!in_image) return HostPathRefusal(path);
  return OpenImageVolumeOrRefuse(split, out);
#endif
}

}  // namespace shardix
