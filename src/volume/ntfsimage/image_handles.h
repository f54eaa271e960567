// The volume layer's file and volume handles on an image mount.
#pragma once

#include <memory>
#include <string>

#include "volume/ntfsimage/image_mount.h"
#include "volume/volume.h"

namespace shardix::ntfsimage {

class ImageFile final : public VolumeFile {
 public:
  // `system`: named inside $Extend, whose files are the volume's own.
  ImageFile(std::shared_ptr<OpenedInode> inode, bool system)
      : inode_(std::move(inode)), system_(system) {}

  FileKind Kind() override;
  uint32_t GetSize(uint64_t* size) override;
  uint32_t GetRetrievalPointers(int64_t starting_vcn, void* out, std::size_t out_size,
                                std::size_t* bytes_returned) override;

  OpenedInode& inode() { return *inode_; }
  const ImageMount* mount() const { return inode_->mount.get(); }

 private:
  std::shared_ptr<OpenedInode> inode_;
  bool system_;
};

class ImageVolume final : public Volume {
 public:
  explicit ImageVolume(std::shared_ptr<ImageMount> mount) : mount_(std::move(mount)) {}

  uint32_t GetVolumeBitmap(int64_t starting_lcn, void* out, std::size_t out_size,
                           std::size_t* bytes_returned) override;
  uint32_t MoveClusters(VolumeFile& file, int64_t starting_vcn, int64_t target_lcn,
                    uint32_t cluster_count) override;
  uint32_t GetGeometry(VolumeGeometry* geometry) override;
  uint32_t GetClusterSize(uint32_t* sectors_per_cluster, uint32_t* bytes_per_sector) override;
  std::string DisplayName() const override { return mount_->display_name(); }
  uint32_t PrepareToMove(std::string* refusal) override;
  uint32_t Close() override;
  int64_t CommittedMoves() const override;

 private:
  std::shared_ptr<ImageMount> mount_;
};

// The run of the inode's stream that holds `vcn`, mapping only the extent
// record that describes it when it is not in memory yet. Null with errno set
// on failure (ENOENT past the end of the runlist).
runlist_element* FindRun(OpenedInode& inode, VCN vcn);

}  // namespace shardix::ntfsimage
