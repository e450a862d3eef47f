// The set of a scanner, and the backward scan (with memrchr when the set is a single byte).
#include "engine/regexp/byte_scan.h"

#include <algorithm>
#include <cstring>

namespace veskor::regexp {

ByteScanner::ByteScanner(const ByteSet& set) : set_(set) {
  if (set.count() != 1) return;
  for (int b = 0; b < 256; ++b) {
    if (set[b]) single_ = b;
  }
}

int64_t ByteScanner::Last(const uint8_t* text, int64_t end, Poller& poller) const {
  while (end > 0) {
    const int64_t begin = std::max<int64_t>(0, end - kPiece);
    if (single_ >= 0) {
      const void* hit = memrchr(text + begin, single_, static_cast<size_t>(end - begin));
      if (hit != nullptr) return static_cast<const uint8_t*>(hit) - text;
    } else {
      for (int64_t i = end; i > begin; --i) {
        if (set_[text[i - 1]]) return i - 1;
      }
    }
    if (poller.Tick((end - begin) >> 4)) return -2;
    end = begin;
  }
  return -1;
}

}  // namespace veskor::regexp
