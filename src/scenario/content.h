// The bytes a recipe asks for, made at any offset without holding the whole
// file, the seeded draws of a scenario, and the digests of its manifest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace shardix::scenario {

struct FileContent;

// A file's content seed: the recipe's seed and the file's path and stream.
uint64_t ContentSeed(uint64_t recipe_seed, const std::string& path, const std::string& stream);

// Bytes offset .. offset + count of a file of `size` bytes.
void FillContent(const FileContent& content, uint64_t size, uint64_t offset, uint8_t* out,
                 std::size_t count);

// SplitMix64's mixing function: 64 bits in, 64 well-stirred bits out.
uint64_t Mix64(uint64_t value);

// SplitMix64: the scenario's own seeded draws, the same on every platform.
class ScenarioRandom {
 public:
  explicit ScenarioRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // 0 .. bound - 1 (bound > 0).
  uint64_t Below(uint64_t bound) { return Next() % bound; }

 private:
  uint64_t state_;
};

// SHA-256 of one stream of bytes, as lower-case hex.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Add(const void* bytes, std::size_t count);
  std::string Hex();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// SHA-256 and MD5 of one stream of bytes, as lower-case hex.
class Digests {
 public:
  Digests();
  ~Digests();
  Digests(const Digests&) = delete;
  Digests& operator=(const Digests&) = delete;
  void Add(const uint8_t* bytes, std::size_t count);
  void Finish(std::string* sha256, std::string* md5);

 private:
  struct Contexts;
  std::unique_ptr<Contexts> contexts_;
};

}  // namespace shardix::scenario
