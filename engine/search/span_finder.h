// The scanner's hot loop: finding the spans of at least m consecutive members of a byte set,
// 64 bytes at a time with AVX2 where the processor has it, by probing otherwise. The same
// loop finds spans of byte pairs whose difference lies in a set, for the search of all keys.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace veskor {

struct SpanState {
  uint64_t pos = 0;  // next position to examine
  bool in_span = false;
  uint64_t span_start = 0;
};

struct Span {
  uint64_t start, end;
};

// A set of byte values with the tables that test 32 bytes at once.
class ByteClass {
 public:
  explicit ByteClass(const std::array<bool, 256>& members);
  bool Has(uint8_t b) const { return member_[b] != 0; }
  const uint8_t* table() const { return member_.data(); }
  const uint8_t* low_nibble_tables() const { return low_; }

 private:
  std::array<uint8_t, 256> member_{};
  // For each low nibble: which high nibbles 0-7 (first 16 bytes) and 8-15 (next 16) are members.
  alignas(32) uint8_t low_[32]{};
};

// Of 32 bytes, 0xFF in each that is not in the class whose two tables of low_nibble_tables() are
// `low_tables0` (high nibbles 0 to 7) and `low_tables1` (8 to 15), each read 16 bytes at a time
// into both halves: the high nibble's bit among the members of the low nibble's column, the
// byte's top bit picking the table.
__attribute__((target("avx2"))) inline __m256i NotInClass(__m256i bytes, __m256i low_tables0,
                                                          __m256i low_tables1) {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i bits = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128,
                                        1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  const __m256i low = _mm256_and_si256(bytes, nibble);
  const __m256i high = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble);
  const __m256i column = _mm256_blendv_epi8(_mm256_shuffle_epi8(low_tables0, low),
                                            _mm256_shuffle_epi8(low_tables1, low), bytes);
  const __m256i bit = _mm256_shuffle_epi8(bits, high);
  return _mm256_cmpeq_epi8(_mm256_and_si256(column, bit), _mm256_setzero_si256());
}

// The two tables of a class as NotInClass() takes them.
__attribute__((target("avx2"))) inline __m256i LowNibbleTable(const ByteClass& members, int half) {
  return _mm256_broadcastsi128_si256(
      _mm_load_si128(reinterpret_cast<const __m128i*>(members.low_nibble_tables() + 16 * half)));
}

// How a position i stands for the pair of stored bytes i and i + 1.
enum class PairValue { kXor, kDifference };  // b[i] ^ b[i+1], or b[i+1] - b[i]

// The pair value (0 to 255) of the stored byte `first` and the byte `second` after it. An int:
// with a uint8_t result GCC computes both values and selects one in the probing loops, which
// measured slower than the branch it takes here.
inline int PairValueOf(PairValue value, uint8_t first, uint8_t second) {
  return value == PairValue::kXor ? first ^ second : static_cast<uint8_t>(second - first);
}

// Advances through positions [state.pos, limit) and stores the spans of at least `m` members
// that end before `limit`; stops there or when `capacity` spans are stored. A span is ended by
// the first position that is no member. Touches nothing but PODs, so it can run inside
// ReadMapped. With pairs, position i reads data[i] and data[i + 1]: keep limit below the
// data's size.
size_t FindByteSpans(const uint8_t* data, const ByteClass& members, uint64_t m, uint64_t limit,
                     SpanState& state, Span* out, size_t capacity);
size_t FindPairSpans(const uint8_t* data, const ByteClass& members, PairValue value, uint64_t m,
                     uint64_t limit, SpanState& state, Span* out, size_t capacity);

// The end of the span of members that goes on at `pos`: the first position from `pos` on that is
// no member, or `limit`. Touches nothing but PODs.
uint64_t SpanEnd(const uint8_t* data, const ByteClass& members, uint64_t pos, uint64_t limit);
// The same for pairs (position i reads data[i] and data[i + 1]: keep limit below the size).
uint64_t PairSpanEnd(const uint8_t* data, const ByteClass& members, PairValue value, uint64_t pos,
                     uint64_t limit);

// The portable loop for any position test `is(i)`: a span of at least m members must cover the
// last position of every window of m positions it starts in, so a window whose last position is
// no member is skipped whole. Stores up to `capacity` spans from out[n] on; returns the new n.
template <class Test>
size_t ProbeSpans(const Test& is, uint64_t m, uint64_t limit, SpanState& state, Span* out,
                  size_t capacity, size_t n) {
  uint64_t pos = state.pos;
  bool in_span = state.in_span;
  uint64_t span_start = state.span_start;
  while (pos < limit && n < capacity) {
    if (in_span) {
      while (pos < limit && is(pos)) ++pos;
      if (pos == limit) break;
      if (pos - span_start >= m) out[n++] = {span_start, pos};
      in_span = false;
      ++pos;  // the position that ended the span belongs to no span
      continue;
    }
    // Outside a span, the position before pos is no member (or pos is where the search began).
    while (pos + m - 1 < limit && !is(pos + m - 1)) pos += m;
    if (pos + m - 1 < limit) {
      const uint64_t probe = pos + m - 1;
      uint64_t start = probe;
      while (start > pos && is(start - 1)) --start;
      in_span = true;
      span_start = start;
      pos = probe + 1;
    } else {
      while (pos < limit && !is(pos)) ++pos;
      if (pos < limit) {
        in_span = true;
        span_start = pos++;
      }
    }
  }
  state = {pos, in_span, span_start};
  return n;
}

// Whether the AVX2 loop is used; tests can turn it off to check the portable loop.
bool VectorSpanFinderEnabled();
void EnableVectorSpanFinder(bool enabled);

}  // namespace veskor
