// The hot loop against a plain loop: spans of members, spans of pairs and the ends of spans, with
// the vector loop and the portable one, around the 64-byte blocks.
#include "engine/search/span_finder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace veskor {
namespace {

// The spans of at least m positions where is(i) holds, among positions [0, n).
template <class Is>
std::vector<std::pair<uint64_t, uint64_t>> PlainSpans(uint64_t n, uint64_t m, Is is) {
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  for (uint64_t i = 0; i < n;) {
    uint64_t j = i;
    while (j < n && is(j)) ++j;
    if (j - i >= m) spans.emplace_back(i, j);
    i = j == i ? i + 1 : j;
  }
  return spans;
}

TEST(SpanFinder, FindsWhatAPlainLoopFinds) {
  std::mt19937 rng(9);
  std::array<bool, 256> member{};
  for (int b = 'a'; b <= 'f'; ++b) member[b] = true;
  const ByteClass members(member);
  const bool vector = VectorSpanFinderEnabled();
  for (bool enabled : {true, false}) {
    EnableVectorSpanFinder(enabled);
    for (uint64_t size : {1, 63, 64, 65, 127, 129, 200, 1000}) {
      for (uint64_t density : {5, 60, 97}) {
        std::vector<uint8_t> data(size + 1);
        for (auto& b : data)
          b = static_cast<uint8_t>(rng() % 100 < density ? 'a' + rng() % 6 : 'z');
        // Each window of the vector loop: m of 1, 2 to 3, 4 to 7, 8 to 15, 16 to 31, 32 and more.
        for (uint64_t m : {1, 2, 7, 9, 16, 23, 31, 40}) {
          const auto expected =
              PlainSpans(size, m, [&](uint64_t i) { return members.Has(data[i]); });
          // Spans of bytes, in batches as the scanner takes them: too short for the vector loop,
          // and long enough for it.
          for (uint64_t batch : {50, 300}) {
            std::vector<std::pair<uint64_t, uint64_t>> got;
            SpanState state;
            Span spans[8];
            while (state.pos < size) {
              const uint64_t limit = std::min<uint64_t>(size, state.pos + batch);
              const size_t found = FindByteSpans(data.data(), members, m, limit, state, spans, 8);
              for (size_t i = 0; i < found; ++i) got.emplace_back(spans[i].start, spans[i].end);
            }
            if (state.in_span && size - state.span_start >= m) {
              got.emplace_back(state.span_start, size);
            }
            ASSERT_EQ(got, expected)
                << size << " " << density << " " << m << " " << batch << " " << enabled;
          }
          // Where a span that goes on at each position ends.
          for (uint64_t at = 0; at < size; at += 7) {
            uint64_t end = at;
            while (end < size && members.Has(data[end])) ++end;
            ASSERT_EQ(SpanEnd(data.data(), members, at, size), end);
            // Pairs whose XOR is a member: the same, over positions [0, size - 1) of pairs.
            uint64_t pair_end = at;
            while (pair_end + 1 < size && members.Has(data[pair_end] ^ data[pair_end + 1])) {
              ++pair_end;
            }
            if (at + 1 < size) {
              ASSERT_EQ(PairSpanEnd(data.data(), members, PairValue::kXor, at, size - 1), pair_end);
            }
          }
        }
      }
    }
  }
  EnableVectorSpanFinder(vector);
}

}  // namespace
}  // namespace veskor
