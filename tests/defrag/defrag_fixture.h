// A simulated volume laid out for defragmentation tests: one file, the free
// runs a test names, everything else taken by unmovable metadata.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "display/job_context.h"
#include "tests/report/bitmap_volume.h"
#include "tests/support/recording_display.h"
#include "volume/error_codes.h"
#include "volume/memory/memory_volume.h"

namespace shardix::test {

// Passes everything to another volume, and lets a test act on each move
// request before it goes through: answer it itself, or change the volume.
class ScriptedVolume : public Volume {
 public:
  explicit ScriptedVolume(std::unique_ptr<Volume> inner) : inner_(std::move(inner)) {}
  uint32_t GetVolumeBitmap(int64_t lcn, void* out, std::size_t size, std::size_t* got) override {
    return inner_->GetVolumeBitmap(lcn, out, size, got);
  }
  uint32_t MoveClusters(VolumeFile& file, int64_t vcn, int64_t lcn, uint32_t count) override {
    moves.push_back({vcn, lcn, count});
    if (before_move)
      if (std::optional<uint32_t> answer = before_move(static_cast<int>(moves.size())))
        return *answer;
    return inner_->MoveClusters(file, vcn, lcn, count);
  }
  uint32_t GetGeometry(VolumeGeometry* geometry) override { return inner_->GetGeometry(geometry); }
  std::string DisplayName() const override { return inner_->DisplayName(); }

  // Called with the request's number, from 1; an answer stops the request.
  std::function<std::optional<uint32_t>(int)> before_move;
  std::vector<RecordedMove> moves;

 private:
  std::unique_ptr<Volume> inner_;
};

class DefragFixture : public ::testing::Test {
 protected:
  static constexpr int64_t kClusters = 6000;

  // The file "f" with `runs`, and free space exactly at `free_runs`
  // ({lcn, length}); every other cluster is in use.
  void Lay(const std::vector<MemoryRun>& runs, const std::vector<std::pair<int64_t, int64_t>>& free_runs) {
    MemoryVolume::Options options;
    options.cluster_count = kClusters;
    memory_ = MemoryVolume::Create(options);
    uint64_t clusters = 0;
    for (const MemoryRun& run : runs) clusters += run.length;
    ASSERT_EQ(memory_->AddFile("f", clusters * memory_->cluster_size(), runs), kErrorSuccess);
    int64_t lcn = 0;
    for (const auto& [first, length] : free_runs) {
      if (first > lcn) {
        ASSERT_EQ(memory_->MarkUnmovable(lcn, first - lcn), kErrorSuccess);
      }
      lcn = first + length;
    }
    if (lcn < kClusters) {
      ASSERT_EQ(memory_->MarkUnmovable(lcn, kClusters - lcn), kErrorSuccess);
    }
    std::unique_ptr<Volume> inner;
    ASSERT_EQ(memory_->OpenVolume(&inner), kErrorSuccess);
    volume_ = std::make_unique<ScriptedVolume>(std::move(inner));
    ASSERT_EQ(memory_->OpenFile("f", &file_), kErrorSuccess);
    for (int64_t vcn = 0; vcn < static_cast<int64_t>(clusters); ++vcn)
      content_.push_back(memory_->FileClusterContent("f", vcn));
    context_.volume = volume_.get();
    context_.file = file_.get();
    context_.display = &display_;
  }

  // Every cluster of the file still holds what it held before.
  void ExpectNoDataLost() {
    for (int64_t vcn = 0; vcn < static_cast<int64_t>(content_.size()); ++vcn)
      ASSERT_EQ(memory_->FileClusterContent("f", vcn), content_[vcn]) << "VCN " << vcn;
  }

  std::shared_ptr<MemoryVolume> memory_;
  std::unique_ptr<ScriptedVolume> volume_;
  std::unique_ptr<VolumeFile> file_;
  std::vector<uint64_t> content_;
  RecordingDisplay display_;
  JobContext context_;
};

}  // namespace shardix::test
