// The scans for a byte set: first and last hits near and across piece boundaries, a single
// byte and a wider set alike, and the stop flag between pieces.
#include "engine/regexp/byte_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace veskor::regexp {
namespace {

ByteSet Bytes(std::string_view members) {
  ByteSet set;
  for (char c : members) set.set(static_cast<uint8_t>(c));
  return set;
}

const uint8_t* Data(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

TEST(ByteScanner, FirstAndLastHits) {
  const int64_t piece = ByteScanner::kPiece;
  // Hits at both ends of the second piece, so that each scan has to go past a piece.
  std::string text(3 * piece, '.');
  text[piece] = 'x';
  text[2 * piece - 1] = 'y';
  struct Case {
    const char* members;
    int64_t from, end;  // First looks in [from, end), Last in [0, end)
    int64_t first, last;
  } cases[] = {
      {"x", 0, 3 * piece, piece, piece},
      {"xy", 0, 3 * piece, piece, 2 * piece - 1},
      {"y", 0, 3 * piece, 2 * piece - 1, 2 * piece - 1},
      {"xy", piece + 1, 3 * piece, 2 * piece - 1, 2 * piece - 1},
      {"x", piece + 1, 3 * piece, 3 * piece, piece},  // no x from there on: `end`
      {"xy", 0, piece, piece, -1},                    // neither before the second piece
      {"z", 0, 3 * piece, 3 * piece, -1},
      {"z", 5, 5, 5, -1},
  };
  for (const Case& c : cases) {
    const ByteScanner scanner(Bytes(c.members));
    Poller poller(nullptr, {});
    EXPECT_EQ(scanner.First(Data(text), c.from, c.end, poller), c.first) << c.members << c.from;
    EXPECT_EQ(scanner.Last(Data(text), c.end, poller), c.last) << c.members << c.end;
  }
}

TEST(ByteScanner, StopsBetweenPieces) {
  const std::string text(4 * ByteScanner::kPiece, '.');
  std::atomic<bool> stop{true};
  for (const char* members : {"x", "xy"}) {
    const ByteScanner scanner(Bytes(members));
    Poller poller(&stop, {});
    EXPECT_EQ(scanner.First(Data(text), 0, static_cast<int64_t>(text.size()), poller), -1);
    EXPECT_EQ(scanner.Last(Data(text), static_cast<int64_t>(text.size()), poller), -2);
  }
}

}  // namespace
}  // namespace veskor::regexp
