// The input sizes of the heaviest engine tests, which a slow build may divide: under
// ThreadSanitizer (scripts/tsan.sh sets VESKOR_TEST_SHRINK) every byte read costs many times more.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace veskor::test {

// `full` divided by VESKOR_TEST_SHRINK when that is a whole number above 1, but never below
// `least`: the size below which the test would no longer try what it says it tries.
inline uint64_t Shrunk(uint64_t full, uint64_t least) {
  const char* text = std::getenv("VESKOR_TEST_SHRINK");
  const uint64_t divisor = text != nullptr ? std::strtoull(text, nullptr, 10) : 0;
  if (divisor <= 1) return full;
  return std::max(least, full / divisor);
}

}  // namespace veskor::test
