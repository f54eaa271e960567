#include "fragment/placement.h"

#include <cstring>

namespace shardix {

namespace {

// u / 32767 in double precision: 0.0 to 1.0.
double Fraction(uint32_t u) { return static_cast<double>(u) / 32767.0; }

// Conversion to a signed 64-bit integer truncates toward zero.
int64_t Trunc(double value) { return static_cast<int64_t>(value); }

// A byte index anywhere in the bitmap, the same for every method.
int64_t AnywhereInBitmap(uint32_t u, int64_t bitmap_bytes) {
  return Trunc(Fraction(u) * static_cast<double>(bitmap_bytes));
}

}  // namespace

std::optional<BitPosition> DrawCandidate(PlacementMethod method, uint64_t index, int64_t last_byte,
                                         int64_t bitmap_bytes, int64_t length,
                                         ShardixRandom& random) {
  const double bytes = static_cast<double>(bitmap_bytes);
  const uint32_t u = random.Next();
  int64_t p = 0;
  switch (method) {
    case PlacementMethod::kRandom:
      return BitPosition{AnywhereInBitmap(u, bitmap_bytes), 0};
    case PlacementMethod::kConcentrated:
      // Within an eighth of the bitmap before or after the previous target.
      p = index == 0 ? AnywhereInBitmap(u, bitmap_bytes)
                     : last_byte + Trunc((Fraction(u) - 0.5) * bytes * 0.25);
      break;
    case PlacementMethod::kScattered:
      if (index == 0) {
        p = AnywhereInBitmap(u, bitmap_bytes);
      } else {
        // A quarter to a whole bitmap length after (r > 0) or before it.
        const double r = Fraction(u) * 1.5 - 0.75;
        const double d = r > 0 ? 1 - r : -1 - r;
        p = last_byte + Trunc(d * bytes);
      }
      break;
    default:
      return std::nullopt;  // First Fit draws nothing
  }
  if (p < 0) return std::nullopt;
  BitPosition candidate{p, 0};
  // Short fragments may start at any bit of the byte (7 only when u' = 32767).
  if (length < 8) candidate.bit = static_cast<int>(Trunc(Fraction(random.Next()) * 7));
  return candidate;
}

BitPosition AlignCandidate(BitPosition candidate, int64_t length) {
  if (candidate.bit != 0) return candidate;
  if (length >= 32)
    candidate.byte = candidate.byte / 4 * 4;
  else if (length >= 16)
    candidate.byte = candidate.byte / 2 * 2;
  return candidate;
}

ScanOutcome ScanCandidate(const uint8_t* bitmap, int64_t bitmap_bytes, BitPosition start,
                          int64_t length) {
  BitPosition cursor = start;
  int64_t count = 0;
  while (count < length) {
    if (cursor.byte < 0 || cursor.byte >= bitmap_bytes) return {false, cursor};
    const uint8_t* at = bitmap + cursor.byte;
    const int64_t remaining = length - count;
    bool in_use;
    if (cursor.bit != 0 || remaining < 8) {
      in_use = ((*at >> cursor.bit) & 1) != 0;
      if (++cursor.bit == 8) {
        cursor.bit = 0;
        ++cursor.byte;
      }
      count += 1;
    } else if (remaining >= 32) {
      uint32_t unit;
      std::memcpy(&unit, at, sizeof unit);
      in_use = unit != 0;
      cursor.byte += 4;
      count += 32;
    } else if (remaining >= 16) {
      uint16_t unit;
      std::memcpy(&unit, at, sizeof unit);
      in_use = unit != 0;
      cursor.byte += 2;
      count += 16;
    } else {
      in_use = *at != 0;
      cursor.byte += 1;
      count += 8;
    }
    if (in_use) return {false, cursor};
  }
  return {true, cursor};
}

bool ShowsMoveMessage(uint64_t index, uint64_t fragment_count) {
  return fragment_count <= 100 || index % (fragment_count / 100) == 0;
}

}  // namespace shardix
