// Memory volumes reached through the volume layer's paths, so that every
// front end can be driven on a simulated volume.
#include <map>
#include <mutex>

#include "volume/error_codes.h"
#include "volume/memory/memory_volume.h"

namespace shardix {

namespace {

class MemoryProvider final : public VolumeProvider {
 public:
  void Add(const std::string& name, std::shared_ptr<MemoryVolume> volume) {
    std::lock_guard<std::mutex> hold(mutex_);
    volumes_[name] = std::move(volume);
  }
  void Remove(const std::string& name) {
    std::lock_guard<std::mutex> hold(mutex_);
    volumes_.erase(name);
  }

  uint32_t OpenFile(const std::string& path, std::unique_ptr<VolumeFile>* out) override {
    std::shared_ptr<MemoryVolume> volume;
    std::string inner;
    if (!Resolve(path, &volume, &inner, nullptr)) return kErrorNotSupported;
    if (!volume) return kErrorPathNotFound;
    if (inner.empty()) return kErrorFileNotFound;
    return volume->OpenFile(inner, out);
  }

  uint32_t OpenVolume(const std::string& path, std::unique_ptr<Volume>* out) override {
    std::shared_ptr<MemoryVolume> volume;
    std::string inner, name;
    if (!Resolve(path, &volume, &inner, &name)) return kErrorNotSupported;
    if (!volume) return kErrorPathNotFound;
    return volume->OpenVolume(out, name);
  }

 private:
  // "memory:NAME/inner" (either separator); false when the path is not ours.
  bool Resolve(const std::string& path, std::shared_ptr<MemoryVolume>* volume, std::string* inner,
               std::string* name_out) {
    const std::string prefix = kMemoryPathPrefix;
    if (path.compare(0, prefix.size(), prefix) != 0) return false;
    std::string rest = path.substr(prefix.size());
    for (char& c : rest)
      if (c == '\\') c = '/';
    std::size_t slash = rest.find('/');
    std::string name = rest.substr(0, slash);
    *inner = slash == std::string::npos ? "" : rest.substr(slash + 1);
    while (!inner->empty() && inner->front() == '/') inner->erase(0, 1);
    if (name_out) *name_out = name;
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = volumes_.find(name);
    if (found != volumes_.end()) *volume = found->second;
    return true;
  }

  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<MemoryVolume>> volumes_;
};

MemoryProvider& Provider() {
  static std::shared_ptr<MemoryProvider> provider = [] {
    auto made = std::make_shared<MemoryProvider>();
    RegisterVolumeProvider(made);
    return made;
  }();
  return *provider;
}

}  // namespace

void RegisterMemoryVolume(const std::string& name, std::shared_ptr<MemoryVolume> volume) {
  Provider().Add(name, std::move(volume));
}

void UnregisterMemoryVolume(const std::string& name) { Provider().Remove(name); }

}  // namespace shardix
