#include "scenario/picture.h"

// clang-format off: jpeglib.h needs <cstdio> before it.
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "scenario/content.h"

namespace shardix::scenario {

namespace {

// The picture itself aims at most of the file, up to this many bytes; the
// rest is padding. Real photographs are mostly picture data.
constexpr uint64_t kLargestPicture = 2u << 20;
// A padding segment: JPEG COM segments stay below 0xFF00 so that no length
// byte is 0xFF (a carver searching for FF D9 must not stop inside one).
constexpr uint64_t kJpegSegment = 65000;
constexpr uint64_t kPngSegment = 65536;
constexpr uint64_t kJpegSegmentHeader = 4;   // FF FE and the length
constexpr uint64_t kPngChunkOverhead = 12;   // length, type, CRC
constexpr uint8_t kPngPaddingType[4] = {'f', 'i', 'L', 'l'};  // private, ancillary, safe to copy
constexpr uint32_t kIend = 0x49454E44;                        // "IEND" read big-endian

uint64_t SmallestSegment(PictureFormat format) {
  return format == PictureFormat::kJpeg ? kJpegSegmentHeader : kPngChunkOverhead;
}

// The seeded image: a vertical gradient, a few ellipses, and grain.
std::vector<uint8_t> Paint(uint64_t seed, uint32_t width, uint32_t height, bool flat) {
  ScenarioRandom random(seed);
  auto color = [&](uint8_t* rgb) {
    const uint64_t v = random.Next();
    rgb[0] = static_cast<uint8_t>(v), rgb[1] = static_cast<uint8_t>(v >> 8), rgb[2] = static_cast<uint8_t>(v >> 16);
  };
  uint8_t top[3], bottom[3];
  color(top);
  color(bottom);
  struct Ellipse {
    int64_t cx, cy, rx, ry;
    uint8_t rgb[3];
  } shapes[6];
  for (Ellipse& e : shapes) {
    e.cx = static_cast<int64_t>(random.Below(width));
    e.cy = static_cast<int64_t>(random.Below(height));
    e.rx = 1 + static_cast<int64_t>(random.Below(width / 3 + 1));
    e.ry = 1 + static_cast<int64_t>(random.Below(height / 3 + 1));
    color(e.rgb);
  }
  std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
  const uint64_t grain_seed = random.Next();
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<uint8_t>(top[c] + (int64_t{bottom[c]} - top[c]) * y / std::max<uint32_t>(height, 1));
      if (flat) continue;
      for (const Ellipse& e : shapes) {
        const int64_t dx = x - e.cx, dy = y - e.cy;
        if (dx * dx * e.ry * e.ry + dy * dy * e.rx * e.rx <= e.rx * e.rx * e.ry * e.ry)
          std::memcpy(p, e.rgb, 3);
      }
      const uint64_t grain = Mix64(grain_seed ^ (uint64_t{y} << 32 | x));
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<uint8_t>(std::clamp<int>(p[c] + static_cast<int>((grain >> (8 * c)) & 31) - 16, 0, 255));
    }
  }
  return pixels;
}

struct JpegFailure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1);
}
void QuietJpeg(j_common_ptr) {}

// No C++ object with a destructor lives in the frames a longjmp leaves.
bool EncodeJpeg(const uint8_t* rgb, uint32_t width, uint32_t height, std::vector<uint8_t>* out) {
  jpeg_compress_struct info{};
  JpegFailure failure{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = OnJpegError;
  failure.manager.output_message = QuietJpeg;
  if (setjmp(failure.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  info.dct_method = JDCT_ISLOW;  // exact integer arithmetic: the same bytes everywhere
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < height) {
    JSAMPROW row = const_cast<uint8_t*>(rgb + static_cast<std::size_t>(info.next_scanline) * width * 3);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  out->assign(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return true;
}

[[noreturn]] void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void QuietPng(png_structp, png_const_charp) {}
void AppendPng(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void FlushPng(png_structp) {}

bool EncodePng(const uint8_t* rgb, uint32_t width, uint32_t height, std::vector<uint8_t>* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, QuietPng);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  out->clear();
  png_set_write_fn(png, out, AppendPng, FlushPng);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y)
    png_write_row(png, rgb + static_cast<std::size_t>(y) * width * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

// Where the padding goes: after the JFIF segment, or after IHDR. False when
// the encoder's output is not the shape expected, or holds an end marker
// before its end (which would cut a carver's file short).
bool SplitEncoded(PictureFormat format, std::vector<uint8_t>& bytes, PictureFile* picture) {
  std::size_t head = 0;
  if (format == PictureFormat::kJpeg) {
    if (bytes.size() < 6 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF || bytes[3] != 0xE0)
      return false;
    head = 4 + (std::size_t{bytes[4]} << 8 | bytes[5]);
    for (std::size_t i = 0; i + 3 < bytes.size(); ++i)
      if (bytes[i] == 0xFF && bytes[i + 1] == 0xD9) return false;
  } else {
    head = 8 + 25;
    const uint8_t iend[4] = {'I', 'E', 'N', 'D'};
    if (std::search(bytes.begin(), bytes.end(), iend, iend + 4) != bytes.end() - 8) return false;
  }
  if (head > bytes.size()) return false;
  picture->head.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(head));
  picture->tail.assign(bytes.begin() + static_cast<std::ptrdiff_t>(head), bytes.end());
  return true;
}

bool Encode(PictureFormat format, uint64_t seed, uint32_t width, uint32_t height, bool flat,
            PictureFile* picture) {
  const std::vector<uint8_t> rgb = Paint(seed, width, height, flat);
  std::vector<uint8_t> bytes;
  const bool encoded = format == PictureFormat::kJpeg ? EncodeJpeg(rgb.data(), width, height, &bytes)
                                                      : EncodePng(rgb.data(), width, height, &bytes);
  if (!encoded || !SplitEncoded(format, bytes, picture)) return false;
  picture->width = width;
  picture->height = height;
  return true;
}

bool PaddingFits(const PictureFile& picture, uint64_t size) {
  const uint64_t used = picture.head.size() + picture.tail.size();
  return used == size || (used < size && size - used >= SmallestSegment(picture.format));
}

// One padding segment's bytes: a COM segment of text, or a private chunk of
// bytes without 'I' and with a CRC that never reads "IEND".
void PaddingSegment(const PictureFile& picture, uint64_t first, uint64_t length,
                    std::vector<uint8_t>* bytes) {
  bytes->resize(static_cast<std::size_t>(length));
  uint8_t* b = bytes->data();
  const uint64_t seed = Mix64(picture.seed ^ 0x9ADD1E6ull);
  auto filler = [&](uint64_t at) { return Mix64(seed ^ Mix64(at)); };
  if (picture.format == PictureFormat::kJpeg) {
    const uint64_t field = length - 2;
    b[0] = 0xFF, b[1] = 0xFE, b[2] = static_cast<uint8_t>(field >> 8), b[3] = static_cast<uint8_t>(field);
    for (uint64_t k = kJpegSegmentHeader; k < length; ++k)
      b[k] = static_cast<uint8_t>(0x20 + filler(first + k) % 95);  // printable text
    return;
  }
  const uint64_t data = length - kPngChunkOverhead;
  for (int k = 0; k < 4; ++k) b[k] = static_cast<uint8_t>(data >> (24 - 8 * k));
  std::memcpy(b + 4, kPngPaddingType, 4);
  for (uint64_t k = 0; k < data; ++k) {
    const uint8_t v = static_cast<uint8_t>(filler(first + 8 + k));
    b[8 + k] = v == 'I' ? 'i' : v;
  }
  auto crc = [&] {
    return static_cast<uint32_t>(crc32(0, b + 4, static_cast<uInt>(4 + data)));
  };
  uint32_t sum = crc();
  if (sum == kIend && data > 0) {
    b[8 + data - 1] ^= 0x01;
    if (b[8 + data - 1] == 'I') b[8 + data - 1] ^= 0x03;
    sum = crc();
  }
  for (int k = 0; k < 4; ++k) b[8 + data + k] = static_cast<uint8_t>(sum >> (24 - 8 * k));
}

}  // namespace

std::shared_ptr<const PictureFile> MakePicture(PictureFormat format, uint64_t seed, uint64_t size) {
  // The last picture made is kept: a file is written in many calls.
  static std::mutex lock;
  static std::shared_ptr<const PictureFile> last;
  std::lock_guard<std::mutex> guard(lock);
  if (last && last->format == format && last->seed == seed && last->size == size) return last;

  const bool jpeg = format == PictureFormat::kJpeg;
  const uint64_t budget = std::min<uint64_t>(size - size / 8, kLargestPicture);
  const uint32_t largest_side = jpeg ? 4000 : 2000;
  // Whole numbers only, so that every machine picks the same sizes.
  uint64_t pixels = jpeg ? budget * 5 / 6 : budget * 2 / 5;
  auto best = std::make_shared<PictureFile>();
  best->format = format;
  bool found = false;
  for (int attempt = 0; attempt < 6; ++attempt) {
    // 4:3 pictures.
    const uint64_t area = std::clamp<uint64_t>(pixels, 64, uint64_t{largest_side} * largest_side);
    uint32_t width = 8;
    while (width < largest_side && uint64_t{width + 1} * (width + 1) * 3 <= area * 4) ++width;
    const uint32_t height = static_cast<uint32_t>(std::clamp<uint64_t>(area / width, 6, largest_side));
    PictureFile candidate;
    candidate.format = format;
    if (!Encode(format, seed ^ Mix64(attempt), width, height, false, &candidate)) continue;
    const uint64_t used = candidate.head.size() + candidate.tail.size();
    const bool fits = PaddingFits(candidate, size);
    if (fits && (!found || used > best->head.size() + best->tail.size())) {
      *best = candidate;
      found = true;
    }
    if (fits && used * 10 >= budget * 8) break;
    pixels = area * budget / used * (fits ? 10 : 9) / 10;  // below 2^64: area < 2^24, budget < 2^22
  }
  // The smallest picture, which every allowed size holds.
  for (uint64_t salt = 0; !found && salt < 64; ++salt)
    found = Encode(format, seed ^ salt, 8, 8, true, best.get()) &&
            PaddingFits(*best, size);
  if (!found) return nullptr;
  best->format = format;
  best->seed = seed;
  best->size = size;
  best->padding = size - best->head.size() - best->tail.size();
  const uint64_t segment = jpeg ? kJpegSegment : kPngSegment;
  best->segments = (best->padding + segment - 1) / segment;
  last = best;
  return last;
}

void FillPicture(const PictureFile& picture, uint64_t offset, uint8_t* out, std::size_t count) {
  const uint64_t head = picture.head.size(), tail_at = head + picture.padding;
  std::vector<uint8_t> segment;
  std::size_t done = 0;
  while (done < count) {
    const uint64_t at = offset + done;
    std::size_t take = count - done;
    if (at < head) {
      take = static_cast<std::size_t>(std::min<uint64_t>(take, head - at));
      std::memcpy(out + done, picture.head.data() + at, take);
    } else if (at >= tail_at) {
      const uint64_t from = at - tail_at;
      if (from >= picture.tail.size()) {  // past the end: nothing of the picture
        std::memset(out + done, 0, take);
      } else {
        take = static_cast<std::size_t>(std::min<uint64_t>(take, picture.tail.size() - from));
        std::memcpy(out + done, picture.tail.data() + from, take);
      }
    } else {
      // The padding: the first `longer` segments are one byte longer than the rest.
      const uint64_t p = at - head, n = picture.segments;
      const uint64_t q = picture.padding / n, longer = picture.padding % n;
      const uint64_t boundary = longer * (q + 1);
      const uint64_t index = p < boundary ? p / (q + 1) : longer + (p - boundary) / q;
      const uint64_t first = index < longer ? index * (q + 1) : boundary + (index - longer) * q;
      const uint64_t length = index < longer ? q + 1 : q;
      PaddingSegment(picture, first, length, &segment);
      take = static_cast<std::size_t>(std::min<uint64_t>(take, first + length - p));
      std::memcpy(out + done, segment.data() + (p - first), take);
    }
    done += take;
  }
}

}  // namespace shardix::scenario
