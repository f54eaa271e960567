#include "volume/memory/memory_volume.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "volume/error_codes.h"

namespace shardix {

static_assert(std::endian::native == std::endian::little,
              "the bitmap words are copied out as little-endian bytes");

namespace {

int Index(MemoryOperation operation) { return static_cast<int>(operation); }

}  // namespace

// ---- handles ---------------------------------------------------------------

class MemoryFileHandle final : public VolumeFile {
 public:
  MemoryFileHandle(std::shared_ptr<MemoryVolume> volume, uint64_t file_id)
      : volume_(std::move(volume)), file_id_(file_id) {}

  uint32_t GetSize(uint64_t* size) override { return volume_->GetSize(file_id_, size); }
  uint32_t GetRetrievalPointers(int64_t starting_vcn, void* out, std::size_t out_size,
                                std::size_t* bytes_returned) override {
    return volume_->GetRetrievalPointers(file_id_, starting_vcn, out, out_size, bytes_returned);
  }

  const MemoryVolume* volume() const { return volume_.get(); }
  uint64_t file_id() const { return file_id_; }

 private:
  std::shared_ptr<MemoryVolume> volume_;
  uint64_t file_id_;
};

class MemoryVolumeHandle final : public Volume {
 public:
  MemoryVolumeHandle(std::shared_ptr<MemoryVolume> volume, std::string name)
      : volume_(std::move(volume)), name_(std::move(name)) {}

  uint32_t GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                           std::size_t* bytes_returned) override {
    return volume_->GetVolumeBitmap(starting_lcn, out, out_size, bytes_returned);
  }
  uint32_t MoveClusters(VolumeFile& file, int64_t starting_vcn, int64_t target_lcn,
                    uint32_t cluster_count) override {
    auto* memory_file = dynamic_cast<MemoryFileHandle*>(&file);
    if (!memory_file || memory_file->volume() != volume_.get()) return kErrorInvalidParameter;
    return volume_->MoveClusters(memory_file->file_id(), starting_vcn, target_lcn, cluster_count);
  }
  uint32_t GetGeometry(VolumeGeometry* geometry) override {
    return volume_->GetGeometry(geometry);
  }
  std::string DisplayName() const override { return name_; }

 private:
  std::shared_ptr<MemoryVolume> volume_;
  std::string name_;
};

// ---- building --------------------------------------------------------------

std::shared_ptr<MemoryVolume> MemoryVolume::Create(const Options& options) {
  return std::shared_ptr<MemoryVolume>(new MemoryVolume(options));
}

MemoryVolume::MemoryVolume(const Options& options) : options_(options) {
  if (options_.cluster_count > (uint64_t{1} << 24)) options_.track_data = false;
  bitmap_.assign((options_.cluster_count + 63) / 64, 0);
  if (options_.track_data) content_.assign(options_.cluster_count, 0);
}

uint32_t MemoryVolume::AddFile(const std::string& name, uint64_t size,
                               const std::vector<MemoryRun>& runs) {
  std::lock_guard<std::mutex> hold(mutex_);
  return AddFileLocked(name, FileKind::kNormal, size, runs);
}

uint32_t MemoryVolume::AddSystemFile(const std::string& name, uint64_t size,
                                     const std::vector<MemoryRun>& runs) {
  std::lock_guard<std::mutex> hold(mutex_);
  return AddFileLocked(name, FileKind::kSystem, size, runs);
}

uint32_t MemoryVolume::AddResidentFile(const std::string& name, uint64_t size) {
  std::lock_guard<std::mutex> hold(mutex_);
  return AddFileLocked(name, FileKind::kResident, size, {});
}

uint32_t MemoryVolume::AddDirectory(const std::string& name) {
  std::lock_guard<std::mutex> hold(mutex_);
  return AddFileLocked(name, FileKind::kDirectory, 0, {});
}

uint32_t MemoryVolume::AddFileLocked(const std::string& name, FileKind kind, uint64_t size,
                                     const std::vector<MemoryRun>& runs) {
  if (files_.count(name)) return kErrorAlreadyExists;
  int64_t vcn = 0;
  for (const MemoryRun& run : runs) {
    if (run.vcn != vcn || run.length <= 0) return kErrorInvalidParameter;
    if (run.lcn != -1) {
      if (run.lcn < 0 || static_cast<uint64_t>(run.lcn + run.length) > options_.cluster_count)
        return kErrorInvalidParameter;
      if (AnyUsed(run.lcn, run.length)) return kErrorInvalidParameter;
    }
    vcn += run.length;
  }
  File file;
  file.id = next_file_id_++;
  file.kind = kind;
  file.size = size;
  file.runs = runs;
  for (const MemoryRun& run : runs) {
    if (run.lcn == -1) continue;
    SetBits(run.lcn, run.length, true);
    if (options_.track_data)
      for (int64_t i = 0; i < run.length; ++i)
        content_[run.lcn + i] = ContentWord(file.id, run.vcn + i);
  }
  uint64_t id = file.id;
  files_by_id_[id] = &files_.emplace(name, std::move(file)).first->second;
  return kErrorSuccess;
}

uint32_t MemoryVolume::MarkUnmovable(int64_t lcn, int64_t count) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (lcn < 0 || count <= 0 || static_cast<uint64_t>(lcn + count) > options_.cluster_count)
    return kErrorInvalidParameter;
  for (int64_t i = 0; i < count; ++i)
    if (!TestBit(lcn + i)) SetBits(lcn + i, 1, true);
  return kErrorSuccess;
}

uint32_t MemoryVolume::AddFileFirstFit(const std::string& name, uint64_t size) {
  std::lock_guard<std::mutex> hold(mutex_);
  uint64_t needed = (size + cluster_size() - 1) / cluster_size();
  std::vector<MemoryRun> runs;
  int64_t vcn = 0;
  for (uint64_t lcn = 0; lcn < options_.cluster_count && static_cast<uint64_t>(vcn) < needed;) {
    if (TestBit(lcn)) {
      ++lcn;
      continue;
    }
    uint64_t length = 0;
    while (lcn + length < options_.cluster_count && !TestBit(lcn + length) &&
           vcn + length < needed)
      ++length;
    runs.push_back({vcn, static_cast<int64_t>(length), static_cast<int64_t>(lcn)});
    vcn += length;
    lcn += length;
  }
  if (static_cast<uint64_t>(vcn) < needed) return kErrorDiskFull;
  return AddFileLocked(name, FileKind::kNormal, size, runs);
}

// ---- the model ---------------------------------------------------------------

bool MemoryVolume::TestBit(uint64_t lcn) const { return (bitmap_[lcn / 64] >> (lcn % 64)) & 1; }

void MemoryVolume::SetBits(uint64_t lcn, uint64_t count, bool used) {
  for (uint64_t i = lcn; i < lcn + count; ++i) {
    uint64_t mask = uint64_t{1} << (i % 64);
    bool was = bitmap_[i / 64] & mask;
    if (used && !was) {
      bitmap_[i / 64] |= mask;
      ++used_clusters_;
    } else if (!used && was) {
      bitmap_[i / 64] &= ~mask;
      --used_clusters_;
    }
  }
}

bool MemoryVolume::AnyUsed(uint64_t lcn, uint64_t count) const {
  for (uint64_t i = lcn; i < lcn + count; ++i)
    if (TestBit(i)) return true;
  return false;
}

bool MemoryVolume::OverlapsPendingFree(uint64_t lcn, uint64_t count) const {
  auto next = pending_free_.lower_bound(lcn + count);
  if (next == pending_free_.begin()) return false;
  --next;  // the last pending run starting before the end of the range
  return next->first + next->second > lcn;
}

bool MemoryVolume::IsUsed(int64_t lcn) const {
  std::lock_guard<std::mutex> hold(mutex_);
  return lcn >= 0 && static_cast<uint64_t>(lcn) < options_.cluster_count && TestBit(lcn);
}

uint64_t MemoryVolume::FreeClusters() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return options_.cluster_count - used_clusters_;
}

std::vector<MemoryRun> MemoryVolume::RunsOf(const std::string& name) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = files_.find(name);
  return found == files_.end() ? std::vector<MemoryRun>{} : found->second.runs;
}

uint64_t MemoryVolume::FileClusterContent(const std::string& name, int64_t vcn) const {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = files_.find(name);
  if (found == files_.end() || !options_.track_data) return 0;
  for (const MemoryRun& run : found->second.runs)
    if (vcn >= run.vcn && vcn < run.vcn + run.length)
      return run.lcn == -1 ? 0 : content_[run.lcn + (vcn - run.vcn)];
  return 0;
}

uint64_t MemoryVolume::MoveCount() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return moves_;
}

uint64_t MemoryVolume::ContentWord(uint64_t file_id, int64_t vcn) {
  // Distinct for every (file, VCN) and never 0, so a lost cluster shows.
  uint64_t x = (file_id << 40) ^ static_cast<uint64_t>(vcn) ^ 0x9e3779b97f4a7c15ull;
  x ^= x >> 31;
  x *= 0xbf58476d1ce4e5b9ull;
  return x | 1;
}

void MemoryVolume::Checkpoint() {
  std::lock_guard<std::mutex> hold(mutex_);
  pending_free_.clear();
  moves_at_checkpoint_ = moves_;
}

void MemoryVolume::InjectFailure(MemoryOperation operation, uint32_t code, uint64_t skip,
                                 uint64_t times) {
  std::lock_guard<std::mutex> hold(mutex_);
  faults_[Index(operation)] = {code, skip, times};
}

void MemoryVolume::ClearFailures() {
  std::lock_guard<std::mutex> hold(mutex_);
  for (Fault& fault : faults_) fault = {};
}

uint64_t MemoryVolume::CallCount(MemoryOperation operation) const {
  std::lock_guard<std::mutex> hold(mutex_);
  return calls_[Index(operation)];
}

bool MemoryVolume::TakeFault(MemoryOperation operation, uint32_t* code) {
  ++calls_[Index(operation)];
  Fault& fault = faults_[Index(operation)];
  if (fault.times == 0) return false;
  if (fault.skip > 0) {
    --fault.skip;
    return false;
  }
  --fault.times;
  *code = fault.code;
  return true;
}

MemoryVolume::File* MemoryVolume::FindFile(uint64_t file_id) {
  auto found = files_by_id_.find(file_id);
  return found == files_by_id_.end() ? nullptr : found->second;
}

// ---- opening -----------------------------------------------------------------

uint32_t MemoryVolume::OpenFile(const std::string& name, std::unique_ptr<VolumeFile>* out) {
  std::lock_guard<std::mutex> hold(mutex_);
  uint32_t code;
  if (TakeFault(MemoryOperation::kOpenFile, &code)) return code;
  std::string key = name;
  if (!key.empty() && key.front() == '/') key.erase(0, 1);
  auto found = files_.find(key);
  if (found == files_.end()) return kErrorFileNotFound;
  *out = std::make_unique<MemoryFileHandle>(shared_from_this(), found->second.id);
  return kErrorSuccess;
}

uint32_t MemoryVolume::OpenVolume(std::unique_ptr<Volume>* out, const std::string& display_name) {
  std::lock_guard<std::mutex> hold(mutex_);
  uint32_t code;
  if (TakeFault(MemoryOperation::kOpenVolume, &code)) return code;
  *out = std::make_unique<MemoryVolumeHandle>(shared_from_this(), display_name);
  return kErrorSuccess;
}

}  // namespace shardix
