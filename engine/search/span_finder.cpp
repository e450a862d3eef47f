// Span finding. The portable loop probes: a span of at least m members must cover the last
// position of every window of m positions it starts in, so a window whose last position is no
// member is skipped whole. The AVX2 loop classifies 64 positions into a bit mask and walks the
// mask's transitions.
#include "engine/search/span_finder.h"

#include <immintrin.h>

namespace veskor {
namespace {

bool HasAvx2() {
  __builtin_cpu_init();  // this runs during static initialisation, maybe before libgcc's own
  return __builtin_cpu_supports("avx2");
}

bool vector_enabled = HasAvx2();

struct ByteTest {
  const uint8_t* data;
  const uint8_t* member;
  bool operator()(uint64_t i) const { return member[data[i]] != 0; }
};

struct PairTest {
  const uint8_t* data;
  const uint8_t* member;
  PairValue value;
  bool operator()(uint64_t i) const {
    return member[PairValueOf(value, data[i], data[i + 1])] != 0;
  }
};

struct ByteMask {
  const uint8_t* data;
  bool pairs;
  PairValue value;
  // Bit j: position i + j is a member.
  __attribute__((target("avx2"))) uint64_t operator()(uint64_t i, __m256i t0, __m256i t1) const {
    const uint8_t* p = data + i;
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    if (pairs) {
      const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
      const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 33));
      if (value == PairValue::kXor) {
        a = _mm256_xor_si256(a, a1);
        b = _mm256_xor_si256(b, b1);
      } else {
        a = _mm256_sub_epi8(a1, a);
        b = _mm256_sub_epi8(b1, b);
      }
    }
    const uint32_t lo = static_cast<uint32_t>(_mm256_movemask_epi8(NotInClass(a, t0, t1)));
    const uint32_t hi = static_cast<uint32_t>(_mm256_movemask_epi8(NotInClass(b, t0, t1)));
    return ~(static_cast<uint64_t>(hi) << 32 | lo);
  }
};

// Bit j of the result: positions j to j + 2^kShifts - 1 are all members, where bits holds
// positions 0 to 63 and next positions 64 to 127 (at most 32 positions are looked ahead).
template <int kShifts>
inline uint64_t WindowStarts(uint64_t bits, uint64_t next) {
  uint64_t lo = bits, hi = next;
  for (int t = 0, shift = 1; t < kShifts; ++t, shift <<= 1) {
    lo &= (lo >> shift) | (hi << (64 - shift));
    hi &= hi >> shift;
  }
  return lo;
}

// 64 positions at a time while the next 128 (plus one for pairs) bytes lie before the limit;
// the probing loop finishes the rest. A span can reach m members only when k members follow its
// start (k = 2^kShifts, the largest power of two up to min(m, 32)), so other starts are passed
// over; a short
// span passed over at a block's end may be taken up as a start in the next block, cut, and so
// is too short all the same.
template <int kShifts, class Test>
__attribute__((target("avx2"))) size_t VectorSpans(const ByteMask& mask, const Test& is,
                                                   const ByteClass& members, uint64_t m,
                                                   uint64_t limit, SpanState& state, Span* out,
                                                   size_t capacity) {
  const __m256i t0 = LowNibbleTable(members, 0), t1 = LowNibbleTable(members, 1);
  size_t n = 0;
  uint64_t pos = state.pos;
  bool in_span = state.in_span;
  uint64_t span_start = state.span_start;
  if (pos + 128 <= limit && n < capacity) {
    uint64_t bits = mask(pos, t0, t1);
    while (pos + 128 <= limit) {
      const uint64_t next = mask(pos + 64, t0, t1);
      uint64_t rest = bits;  // the block's member bits not yet accounted for
      if (in_span) {
        const uint64_t zeros = ~bits;
        if (zeros == 0) {
          pos += 64;
          bits = next;
          continue;
        }
        const unsigned end = static_cast<unsigned>(__builtin_ctzll(zeros));
        in_span = false;
        if (pos + end - span_start >= m) {
          out[n++] = {span_start, pos + end};
          if (n == capacity) {
            state = {pos + end + 1, false, 0};
            return n;
          }
        }
        rest = end == 63 ? 0 : bits & (~uint64_t{0} << (end + 1));
      }
      // Only the starts from which k members follow can begin a span of m or more.
      uint64_t starts = rest & ~(rest << 1) & WindowStarts<kShifts>(bits, next);
      while (starts != 0) {
        const unsigned start = static_cast<unsigned>(__builtin_ctzll(starts));
        starts &= starts - 1;
        const uint64_t zeros = ~bits & (~uint64_t{0} << start);
        if (zeros == 0) {  // the span goes on into the next block
          in_span = true;
          span_start = pos + start;
          break;
        }
        const unsigned end = static_cast<unsigned>(__builtin_ctzll(zeros));
        if (end - start >= m) {
          out[n++] = {pos + start, pos + end};
          if (n == capacity) {
            state = {pos + end + 1, false, 0};
            return n;
          }
        }
      }
      pos += 64;
      bits = next;
    }
  }
  state = {pos, in_span, span_start};
  return ProbeSpans(is, m, limit, state, out, capacity, n);
}

// VectorSpans with the window length for m fixed at compile time.
template <class Test>
size_t VectorSpansFor(const ByteMask& mask, const Test& is, const ByteClass& members, uint64_t m,
                      uint64_t limit, SpanState& state, Span* out, size_t capacity) {
  if (m >= 32) return VectorSpans<5>(mask, is, members, m, limit, state, out, capacity);
  if (m >= 16) return VectorSpans<4>(mask, is, members, m, limit, state, out, capacity);
  if (m >= 8) return VectorSpans<3>(mask, is, members, m, limit, state, out, capacity);
  if (m >= 4) return VectorSpans<2>(mask, is, members, m, limit, state, out, capacity);
  if (m >= 2) return VectorSpans<1>(mask, is, members, m, limit, state, out, capacity);
  return VectorSpans<0>(mask, is, members, m, limit, state, out, capacity);
}

}  // namespace

ByteClass::ByteClass(const std::array<bool, 256>& members) {
  for (int b = 0; b < 256; ++b) {
    member_[b] = members[b] ? 1 : 0;
    if (members[b])
      low_[(b & 15) + (b >= 128 ? 16 : 0)] |= static_cast<uint8_t>(1 << ((b >> 4) & 7));
  }
}

size_t FindByteSpans(const uint8_t* data, const ByteClass& members, uint64_t m, uint64_t limit,
                     SpanState& state, Span* out, size_t capacity) {
  const ByteTest is{data, members.table()};
  if (vector_enabled) {
    return VectorSpansFor(ByteMask{data, false, PairValue::kXor}, is, members, m, limit, state, out,
                          capacity);
  }
  return ProbeSpans(is, m, limit, state, out, capacity, 0);
}

size_t FindPairSpans(const uint8_t* data, const ByteClass& members, PairValue value, uint64_t m,
                     uint64_t limit, SpanState& state, Span* out, size_t capacity) {
  const PairTest is{data, members.table(), value};
  if (vector_enabled) {
    // The mask of 64 pairs at pos reads the bytes up to pos + 64, which is at most limit.
    return VectorSpansFor(ByteMask{data, true, value}, is, members, m, limit, state, out, capacity);
  }
  return ProbeSpans(is, m, limit, state, out, capacity, 0);
}

namespace {

template <class Test>
__attribute__((target("avx2"))) uint64_t VectorSpanEnd(const ByteMask& mask, const Test& is,
                                                       const ByteClass& members, uint64_t pos,
                                                       uint64_t limit) {
  const __m256i t0 = LowNibbleTable(members, 0), t1 = LowNibbleTable(members, 1);
  // The mask of 64 positions at pos reads up to pos + 64 (pairs), which is at most limit.
  while (pos + 64 < limit) {
    const uint64_t zeros = ~mask(pos, t0, t1);
    if (zeros != 0) return pos + static_cast<unsigned>(__builtin_ctzll(zeros));
    pos += 64;
  }
  while (pos < limit && is(pos)) ++pos;
  return pos;
}

template <class Test>
uint64_t SpanEndOf(const ByteMask& mask, const Test& is, const ByteClass& members, uint64_t pos,
                   uint64_t limit) {
  // Most spans are short: a few steps one by one before the vector loop is worth it.
  for (int i = 0; i < 16; ++i, ++pos) {
    if (pos >= limit || !is(pos)) return pos;
  }
  if (vector_enabled) return VectorSpanEnd(mask, is, members, pos, limit);
  while (pos < limit && is(pos)) ++pos;
  return pos;
}

}  // namespace

uint64_t SpanEnd(const uint8_t* data, const ByteClass& members, uint64_t pos, uint64_t limit) {
  return SpanEndOf(ByteMask{data, false, PairValue::kXor}, ByteTest{data, members.table()}, members,
                   pos, limit);
}

uint64_t PairSpanEnd(const uint8_t* data, const ByteClass& members, PairValue value, uint64_t pos,
                     uint64_t limit) {
  return SpanEndOf(ByteMask{data, true, value}, PairTest{data, members.table(), value}, members,
                   pos, limit);
}

bool VectorSpanFinderEnabled() { return vector_enabled; }
void EnableVectorSpanFinder(bool enabled) { vector_enabled = enabled && HasAvx2(); }

}  // namespace veskor
