// How many pieces a count fills: exact fits, a partial last piece, nothing, and counts near the
// top of 64 bits that a piece count of a large file meets.
#include "text/arithmetic.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace veskor {
namespace {

TEST(CeilDiv, CountsThePiecesACountFills) {
  struct Case {
    uint64_t count, size, pieces;
  } cases[] = {
      {0, 1, 0},
      {0, 64, 0},
      {1, 64, 1},
      {63, 64, 1},
      {64, 64, 1},
      {65, 64, 2},
      {7, 1, 7},
      {uint64_t{1} << 40, uint64_t{1} << 20, uint64_t{1} << 20},
      {(uint64_t{1} << 40) + 1, uint64_t{1} << 20, (uint64_t{1} << 20) + 1},
      {UINT64_MAX - 63, 64, (uint64_t{1} << 58) - 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CeilDiv(c.count, c.size), c.pieces) << c.count << " / " << c.size;
  }
}

}  // namespace
}  // namespace veskor
