#include "scenario/content.h"

#include <openssl/evp.h>

#include <cstring>

#include "scenario/picture.h"
#include "scenario/recipe.h"
#include "volume/unicode_text.h"

namespace shardix::scenario {

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
    case FileContent::Kind::kPng: {
      const auto picture = MakePicture(
          content.kind == FileContent::Kind::kJpeg ? PictureFormat::kJpeg : PictureFormat::kPng, content.seed, size);
      if (picture) FillPicture(*picture, offset, out, count);
      else FillRandom(content.seed, offset, out, count);  // below the smallest picture: refused when read
      return;
    }
  }
}

uint64_t ScenarioRandom::Next() {
  const uint64_t value = Mix64(state_);
  state_ += 0x9E3779B97F4A7C15ull;
  return value;
}

namespace {

std::string HexDigest(EVP_MD_CTX* context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context, digest, &length);
  return HexBytes(std::string_view(reinterpret_cast<const char*>(digest), length));
}

}  // namespace

struct Sha256::Context {
  EVP_MD_CTX* sha256 = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(sha256); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
  EVP_DigestInit_ex(context_->sha256, EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::Add(const void* bytes, std::size_t count) {
  if (count) EVP_DigestUpdate(context_->sha256, bytes, count);
}

std::string Sha256::Hex() { return HexDigest(context_->sha256); }

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
  *sha256 = HexDigest(contexts_->sha256);
  if (md5) *md5 = HexDigest(contexts_->md5);
}

}  // namespace shardix::scenario
