// The spans of a wide algorithm's code units of one parity, for any test of a unit's two stored
// bytes: one key's characters, or the pair values that some key could make characters of.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/search/span_finder.h"

namespace veskor {

// The units whose two bytes both lie in a file of `size` bytes (at least one), per parity.
inline std::array<uint64_t, 2> UnitCounts(uint64_t size) { return {size / 2, (size - 1) / 2}; }

// The code units of one parity as the positions of a span search: position j is the unit at byte
// offset 2j + parity, and `is(first, second)` tells from its two stored bytes whether it belongs.
// The test looks at two bytes at once, which no byte class holds: the probing loop finds the spans.
template <class UnitTest>
struct UnitSpans {
  const uint8_t* data;
  UnitTest is;
  uint64_t parity;
  uint64_t m;
  bool operator()(uint64_t j) const { return Has(j); }
  bool Has(uint64_t j) const {
    const uint8_t* p = data + 2 * j + parity;
    return is(p[0], p[1]);
  }
  size_t Find(uint64_t limit, SpanState& state, Span* out, size_t capacity) const {
    return ProbeSpans(*this, m, limit, state, out, capacity, 0);
  }
  uint64_t End(uint64_t j, uint64_t limit) const {
    while (j < limit && Has(j)) ++j;
    return j;
  }
  // A span of units as the bytes it covers: from its first unit's first byte to the byte after
  // its last unit.
  Span Bytes(const Span& units) const { return {2 * units.start + parity, 2 * units.end + parity}; }
};

}  // namespace veskor
