// Looking through a text for the bytes of a set, forwards or backwards, in pieces between which
// a search's poller is counted: the first-byte skips of both executors, the required-bytes
// check and the cut at the first zero byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/regexp/search_control.h"
#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

class ByteScanner {
 public:
  // Texts are looked through in pieces of this many bytes; each piece counts its length / 16
  // on the poller.
  static constexpr int64_t kPiece = 16 * Poller::kInterval;

  explicit ByteScanner(const ByteSet& set);

  const ByteSet& set() const { return set_; }

  // The first position in [from, end) whose byte is in the set; `end` when there is none; -1
  // when the poller stopped the scan.
  int64_t First(const uint8_t* text, int64_t from, int64_t end, Poller& poller) const;

  // The same for the one byte `byte`, without a scanner.
  static int64_t FirstByte(uint8_t byte, const uint8_t* text, int64_t from, int64_t end,
                           Poller& poller);

  // The last position in [0, end) whose byte is in the set; -1 when there is none; -2 when the
  // poller stopped the scan.
  int64_t Last(const uint8_t* text, int64_t end, Poller& poller) const;

 private:
  ByteSet set_;
  int single_ = -1;  // the byte, when the set holds just one: found with memchr / memrchr
};

// Inline: the executors call these between attempts and at every thread-less position, the
// filter once per string.
inline int64_t ByteScanner::FirstByte(uint8_t byte, const uint8_t* text, int64_t from, int64_t end,
                                      Poller& poller) {
  while (from < end) {
    const int64_t piece = std::min(end - from, kPiece);
    const void* hit = std::memchr(text + from, byte, static_cast<size_t>(piece));
    if (hit != nullptr) return static_cast<const uint8_t*>(hit) - text;
    if (poller.Tick(piece >> 4)) return -1;
    from += piece;
  }
  return end;
}

inline int64_t ByteScanner::First(const uint8_t* text, int64_t from, int64_t end,
                                  Poller& poller) const {
  if (single_ >= 0) return FirstByte(static_cast<uint8_t>(single_), text, from, end, poller);
  for (; from < end; from += kPiece) {
    const int64_t piece_end = std::min(end, from + kPiece);
    int64_t i = from;
    while (i < piece_end && !set_[text[i]]) ++i;
    if (i < piece_end) return i;
    if (poller.Tick((piece_end - from) >> 4)) return -1;
  }
  return end;
}

}  // namespace veskor::regexp
