// The dialect's word bytes and its zero-width tests, shared by both executors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

// The 63 word bytes: digits, Latin letters and '_'; no byte above 127 is one.
constexpr bool IsWordByte(uint8_t b) {
  return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_';
}

// Does the assertion hold at pos (0 to size) of the text? Line breaks are CR, LF and the pair
// CR LF, which counts as one: no line starts or ends between its two bytes.
inline bool AssertionHolds(AssertionKind kind, const uint8_t* text, size_t size, size_t pos) {
  switch (kind) {
    case AssertionKind::kTextStart:
      return pos == 0;
    case AssertionKind::kTextEnd:
      return pos == size;
    case AssertionKind::kLineStart:
      if (pos == 0 || text[pos - 1] == '\n') return true;
      return text[pos - 1] == '\r' && (pos == size || text[pos] != '\n');
    case AssertionKind::kLineEnd:
      if (pos == size || text[pos] == '\r') return true;
      return text[pos] == '\n' && (pos == 0 || text[pos - 1] != '\r');
    case AssertionKind::kWordBoundary:
    case AssertionKind::kNotWordBoundary: {
      const bool before = pos > 0 && IsWordByte(text[pos - 1]);
      const bool after = pos < size && IsWordByte(text[pos]);
      return (before != after) == (kind == AssertionKind::kWordBoundary);
    }
  }
  return false;
}

}  // namespace veskor::regexp
