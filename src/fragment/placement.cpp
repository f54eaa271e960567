#include "fragment/placement.h"

#include <algorithm>

#include "volume/bitmap_words.h"

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

namespace {

BitPosition PositionOf(int64_t cluster) { return {cluster / 8, static_cast<int>(cluster % 8)}; }

}  // namespace

int64_t ScanReachEnd(BitPosition start, int64_t length, int64_t bitmap_bytes) {
  const int64_t first = start.Cluster();
  const int64_t limit = bitmap_bytes * 8;
  if (first >= limit) return first;
  return length > limit - first ? limit : first + length;
}

ScanOutcome ScanOutcomeAt(BitPosition start, int64_t length, int64_t bitmap_bytes,
                          int64_t first_unusable) {
  const int64_t first = start.Cluster();
  const int64_t bad = first_unusable;
  if (bad - first >= length) return {true, PositionOf(first + length)};

  // The unit that holds `bad`: single clusters up to the first byte
  // boundary, then 32-cluster units while 32 or more remain, one of 16 and
  // one of 8 where that many remain, then single clusters.
  int64_t unit_first = bad, unit_width = 1;
  const int64_t head = start.bit == 0 ? 0 : std::min<int64_t>(8 - start.bit, length);
  const int64_t offset = bad - first - head;  // from the first byte boundary
  if (offset >= 0) {
    int64_t remaining = length - head;
    const int64_t wide = remaining / 32 * 32;
    const int64_t base = first + head;
    if (offset < wide) {
      unit_first = base + offset / 32 * 32, unit_width = 32;
    } else {
      int64_t at = wide;
      remaining -= wide;
      for (int64_t width : {16, 8}) {
        if (remaining < width) continue;
        if (offset < at + width) {
          unit_first = base + at, unit_width = width;
          break;
        }
        at += width;
        remaining -= width;
      }
    }
  }
  const bool refused_at_start = unit_first >= bitmap_bytes * 8;
  return {false, PositionOf(refused_at_start ? unit_first : unit_first + unit_width)};
}

ScanOutcome ScanCandidate(const uint8_t* bitmap, int64_t bitmap_bytes, BitPosition start,
                          int64_t length) {
  const int64_t first = start.Cluster();
  const int64_t end = ScanReachEnd(start, length, bitmap_bytes);
  const int64_t bad = first >= end ? first
                                   : static_cast<int64_t>(FindClusterInState(
                                         bitmap, static_cast<uint64_t>(first),
                                         static_cast<uint64_t>(end), true));
  return ScanOutcomeAt(start, length, bitmap_bytes, bad);
}

bool ShowsMoveMessage(uint64_t index, uint64_t fragment_count) {
  return fragment_count <= 100 || index % (fragment_count / 100) == 0;
}

}  // namespace shardix
