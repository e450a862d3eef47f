// The input sizes and the cases of the heaviest engine tests, which a slow build may cut: under
// the sanitizers (scripts/sanitize.sh and scripts/tsan.sh set VESKOR_TEST_SHRINK) every byte
// read costs many times more.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace veskor::test {

// `full` divided by VESKOR_TEST_SHRINK when that is a whole number above 1, but never below
// `least`: the size below which the test would no longer try what it says it tries.
inline uint64_t Shrunk(uint64_t full, uint64_t least) {
  const char* text = std::getenv("VESKOR_TEST_SHRINK");
  const uint64_t divisor = text != nullptr ? std::strtoull(text, nullptr, 10) : 0;
  if (divisor <= 1) return full;
  return std::max(least, full / divisor);
}

// Whether a case of `workers` workers runs in this build: the ThreadSanitizer build
// (VESKOR_TEST_THREADED_ONLY=1) runs only the cases that start threads, since a search of one
// worker runs on the caller's thread, where it finds nothing that the other builds do not check.
inline bool RunsWorkers(int workers) {
  const char* text = std::getenv("VESKOR_TEST_THREADED_ONLY");
  return workers > 1 || text == nullptr || std::string_view(text) != "1";
}

}  // namespace veskor::test
