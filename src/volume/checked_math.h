// Checked arithmetic for numbers read from volumes: an image is input from
// outside, and a damaged one can hold values whose sum or product overflows.
#pragma once

#include <cstdint>
#include <limits>

namespace shardix {

// Sets *sum and returns true when a + b fits in int64_t.
inline bool CheckedAdd(int64_t a, int64_t b, int64_t* sum) {
  if ((b > 0 && a > std::numeric_limits<int64_t>::max() - b) ||
      (b < 0 && a < std::numeric_limits<int64_t>::min() - b))
    return false;
  *sum = a + b;
  return true;
}

// Sets *difference and returns true when a - b fits in int64_t.
inline bool CheckedSubtract(int64_t a, int64_t b, int64_t* difference) {
  if ((b < 0 && a > std::numeric_limits<int64_t>::max() + b) ||
      (b > 0 && a < std::numeric_limits<int64_t>::min() + b))
    return false;
  *difference = a - b;
  return true;
}

}  // namespace shardix
