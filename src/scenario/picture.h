// Real pictures of an exact size: a seeded image encoded with libjpeg-turbo
// or libpng, padded to the size asked through the format's own comment
// segments (JPEG COM) or private ancillary chunks (PNG), so that decoders
// accept the file whole and carvers built for the format recognise it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace shardix::scenario {

enum class PictureFormat { kJpeg, kPng };

// The smallest files that hold a picture; smaller sizes are refused when the
// recipe is read.
constexpr uint64_t kSmallestJpeg = 1024;
constexpr uint64_t kSmallestPng = 128;

// One picture file: `head` (signature and first header), the padding made
// at any offset from the seed, then `tail` (the rest of the picture).
struct PictureFile {
  PictureFormat format = PictureFormat::kJpeg;
  uint64_t seed = 0;
  uint64_t size = 0;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> head, tail;
  uint64_t padding = 0;  // bytes between head and tail
  uint64_t segments = 0; // comment segments or chunks the padding is cut into
};

// The picture file of `size` bytes (at least the format's smallest) for `seed`.
// The same arguments give the same bytes.
std::shared_ptr<const PictureFile> MakePicture(PictureFormat format, uint64_t seed, uint64_t size);

// Bytes offset .. offset + count of the file.
void FillPicture(const PictureFile& picture, uint64_t offset, uint8_t* out, std::size_t count);

}  // namespace shardix::scenario
