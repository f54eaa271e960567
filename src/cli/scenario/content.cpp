#include "cli/scenario/content.h"

#include <openssl/evp.h>

#include <cstring>

#include "cli/scenario/recipe.h"

namespace shardix::cli {

uint64_t Mix64(uint64_t z) {
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

namespace {

// The random body at any offset: 8 bytes per block, each block a function
// of the seed and its index alone.
void FillRandom(uint64_t seed, uint64_t offset, uint8_t* out, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const uint64_t at = offset + done;
    const uint64_t block = Mix64(seed ^ Mix64(at / 8));
    const std::size_t skip = static_cast<std::size_t>(at % 8);
    const std::size_t take = std::min<std::size_t>(8 - skip, count - done);
    for (std::size_t i = 0; i < take; ++i) out[done + i] = static_cast<uint8_t>(block >> (8 * (skip + i)));
    done += take;
  }
}

// A picture-like file: a real header, a random body, a real trailer.
constexpr uint8_t kJpegHeader[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I', 'F',
                                   0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
constexpr uint8_t kJpegTrailer[] = {0xFF, 0xD9};
constexpr uint8_t kPngHeader[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00,
                                  0x0D, 'I',  'H',  'D',  'R',  0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                  0x01, 0x00, 0x08, 0x02, 0x00, 0x00, 0x00, 0xD3, 0x10, 0x3F, 0x31};
constexpr uint8_t kPngTrailer[] = {0x00, 0x00, 0x00, 0x00, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

void Overlay(const uint8_t* part, std::size_t part_size, uint64_t part_at, uint64_t offset,
             uint8_t* out, std::size_t count) {
  const uint64_t begin = std::max(part_at, offset);
  const uint64_t end = std::min(part_at + part_size, offset + count);
  for (uint64_t at = begin; at < end; ++at) out[at - offset] = part[at - part_at];
}

}  // namespace

uint64_t ContentSeed(uint64_t recipe_seed, const std::string& path, const std::string& stream) {
  uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
  for (unsigned char c : path + ":" + stream) hash = (hash ^ c) * 0x100000001B3ull;
  return Mix64(recipe_seed ^ hash);
}

void FillContent(const FileContent& content, uint64_t size, uint64_t offset, uint8_t* out,
                 std::size_t count) {
  switch (content.kind) {
    case FileContent::Kind::kZero:
      std::memset(out, 0, count);
      return;
    case FileContent::Kind::kPattern: {
      const std::string& p = content.pattern;
      for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(p[(offset + i) % p.size()]);
      return;
    }
    case FileContent::Kind::kHost: {
      const auto& bytes = content.host_bytes;
      for (std::size_t i = 0; i < count; ++i)
        out[i] = offset + i < bytes.size() ? bytes[offset + i] : 0;
      return;
    }
    case FileContent::Kind::kRandom:
      FillRandom(content.seed, offset, out, count);
      return;
    case FileContent::Kind::kJpeg:
      FillRandom(content.seed, offset, out, count);
      // No stray end-of-image marker inside the body: a carver that stops at
      // the first one must find the real trailer.
      for (std::size_t i = 0; i < count; ++i)
        if (out[i] == 0xFF) out[i] = 0xFE;
      Overlay(kJpegHeader, sizeof kJpegHeader, 0, offset, out, count);
      Overlay(kJpegTrailer, sizeof kJpegTrailer, size - sizeof kJpegTrailer, offset, out, count);
      return;
    case FileContent::Kind::kPng:
      FillRandom(content.seed, offset, out, count);
      for (std::size_t i = 0; i < count; ++i)
        if (out[i] == 'I') out[i] = 'i';  // no stray IEND in the body
      Overlay(kPngHeader, sizeof kPngHeader, 0, offset, out, count);
      Overlay(kPngTrailer, sizeof kPngTrailer, size - sizeof kPngTrailer, offset, out, count);
      return;
  }
}

uint64_t ScenarioRandom::Next() {
  const uint64_t value = Mix64(state_);
  state_ += 0x9E3779B97F4A7C15ull;
  return value;
}

struct Digests::Contexts {
  EVP_MD_CTX* sha256 = EVP_MD_CTX_new();
  EVP_MD_CTX* md5 = EVP_MD_CTX_new();
  ~Contexts() {
    EVP_MD_CTX_free(sha256);
    EVP_MD_CTX_free(md5);
  }
};

Digests::Digests() : contexts_(std::make_unique<Contexts>()) {
  EVP_DigestInit_ex(contexts_->sha256, EVP_sha256(), nullptr);
  EVP_DigestInit_ex(contexts_->md5, EVP_md5(), nullptr);
}

Digests::~Digests() = default;

void Digests::Add(const uint8_t* bytes, std::size_t count) {
  EVP_DigestUpdate(contexts_->sha256, bytes, count);
  EVP_DigestUpdate(contexts_->md5, bytes, count);
}

void Digests::Finish(std::string* sha256, std::string* md5) {
  auto hex = [](EVP_MD_CTX* context, std::string* out) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    static const char kHex[] = "0123456789abcdef";
    out->clear();
    for (unsigned int i = 0; i < length; ++i) {
      *out += kHex[digest[i] >> 4];
      *out += kHex[digest[i] & 15];
    }
  };
  hex(contexts_->sha256, sha256);
  if (md5) hex(contexts_->md5, md5);
}

}  // namespace shardix::cli
