// Walking a volume bitmap (bit k of byte j stands for cluster 8j + k) 64
// clusters at a time: the next cluster of a given state is found by counting
// trailing zeros in a word, so a long run costs one step per 64 clusters and
// a short one a few instructions, instead of a step per cluster.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace shardix {

// The 64 clusters from cluster 64 * `word` on, cluster 64 * word first in
// bit 0. Bytes at or past `byte_count` are not read and count as zero.
inline uint64_t LoadBitmapWord(const uint8_t* bits, uint64_t byte_count, uint64_t word) {
  const uint64_t first = word * 8;
  uint8_t bytes[8] = {};
  if (first + 8 <= byte_count)
    std::memcpy(bytes, bits + first, 8);
  else if (first < byte_count)
    std::memcpy(bytes, bits + first, static_cast<std::size_t>(byte_count - first));
  if constexpr (std::endian::native == std::endian::little) {
    uint64_t value;
    std::memcpy(&value, bytes, 8);
    return value;
  } else {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
  }
}

// The set bits of a word, with shifts and masks: a population count
// instruction is not part of the baseline x86-64 the programs are built
// for, and the library call that stands in for it is slower still.
inline unsigned CountSetBits(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<unsigned>((x * 0x0101010101010101ull) >> 56);
}

// The set bits of `bytes` bytes. All-clear and all-set words, the bulk of
// a real bitmap, cost a comparison each.
inline uint64_t CountSetBits(const uint8_t* bits, uint64_t bytes) {
  uint64_t set = 0, i = 0;
  for (; i + 8 <= bytes; i += 8) {
    uint64_t x;
    std::memcpy(&x, bits + i, 8);
    if (x == 0) continue;
    set += x == ~uint64_t{0} ? 64 : CountSetBits(x);
  }
  for (; i < bytes; ++i) set += CountSetBits(bits[i]);
  return set;
}

// The first cluster in [from, end) whose bit is set (`in_use`) or clear
// (`!in_use`), or `end` when there is none. `bits` holds at least
// (end + 7) / 8 bytes.
inline uint64_t FindClusterInState(const uint8_t* bits, uint64_t from, uint64_t end, bool in_use) {
  if (from >= end) return end;
  const uint64_t byte_count = (end + 7) / 8;
  const uint64_t flip = in_use ? 0 : ~uint64_t{0};
  uint64_t word = from / 64;
  uint64_t found = (LoadBitmapWord(bits, byte_count, word) ^ flip) & (~uint64_t{0} << (from % 64));
  while (found == 0) {
    if (++word * 64 >= end) return end;
    found = LoadBitmapWord(bits, byte_count, word) ^ flip;
  }
  const uint64_t cluster = word * 64 + static_cast<uint64_t>(std::countr_zero(found));
  return cluster < end ? cluster : end;
}

}  // namespace shardix
