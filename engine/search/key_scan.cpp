// The spans of one key's members in a stretch of the file: bytes, or the code units of a wide
// algorithm at both parities.
#include "engine/search/key_scan.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engine/search/unit_spans.h"
#include "text/arithmetic.h"

namespace veskor {
namespace {

// The key's members, one byte per position.
struct ByteSpans {
  const uint8_t* data;
  const ByteClass& members;
  uint64_t m;
  size_t Find(uint64_t limit, SpanState& state, Span* out, size_t capacity) const {
    return FindByteSpans(data, members, m, limit, state, out, capacity);
  }
  bool Has(uint64_t position) const { return members.Has(data[position]); }
  uint64_t End(uint64_t position, uint64_t limit) const {
    return SpanEnd(data, members, position, limit);
  }
};

// The members of a running key, which decodes every offset under its own byte key: probed.
struct RunningSpans {
  const KeyView& key;
  uint64_t m;
  size_t Find(uint64_t limit, SpanState& state, Span* out, size_t capacity) const {
    return ProbeSpans([&](uint64_t i) { return key.Member(i); }, m, limit, state, out, capacity, 0);
  }
  bool Has(uint64_t position) const { return key.Member(position); }
  uint64_t End(uint64_t position, uint64_t limit) const { return key.SpanEnd(position, limit); }
};

// The members of a repeating key: each batch of positions decoded in blocks (XorKeyStream) into
// a buffer of the job's, whose bytes the byte loop reads with the alphabet's own set.
struct RepeatingSpans {
  const uint8_t* data;
  const KeyView& key;
  const ByteClass& alphabet;
  uint64_t m;
  // Holds the decoded bytes from `first` on; sized for a batch before the scan, never under the
  // fault guard.
  std::vector<uint8_t>& decoded;
  uint64_t& first;
  uint64_t& decoded_end;
  size_t Find(uint64_t limit, SpanState& state, Span* out, size_t capacity) const {
    // A call that stopped at its capacity is called again for the rest of the same batch.
    if (state.pos < first || limit > decoded_end) {
      first = state.pos;
      decoded_end = limit;
      key.repeating()->Decode(data + first, first, decoded.data(), limit - first);
    }
    // Positions relative to the buffer; an open span's start may lie before it, and its
    // unsigned difference comes back whole.
    SpanState local{state.pos - first, state.in_span, state.span_start - first};
    const size_t found =
        FindByteSpans(decoded.data(), alphabet, m, limit - first, local, out, capacity);
    for (size_t i = 0; i < found; ++i) {
      out[i].start += first;
      out[i].end += first;
    }
    state = {local.pos + first, local.in_span, local.span_start + first};
    return found;
  }
  bool Has(uint64_t position) const { return key.Member(position); }
  uint64_t End(uint64_t position, uint64_t limit) const { return key.SpanEnd(position, limit); }
};

}  // namespace

bool ScanKeyRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
                  bool cut_at_end, JobOutput& out,
                  const std::function<void(const Span&)>& on_span) {
  if (key.repeating() != nullptr) {
    const ByteClass alphabet(input.in_alphabet);
    std::vector<uint8_t> decoded(input.batch_bytes + 64);
    uint64_t first = 0, decoded_end = 0;
    return SpansStartingIn(
        RepeatingSpans{input.data, key, alphabet, input.min_span, decoded, first, decoded_end},
        input.min_span, begin, end, input.size, cut_at_end, input.batch_bytes, out, on_span);
  }
  if (key.running()) {
    return SpansStartingIn(RunningSpans{key, input.min_span}, input.min_span, begin, end,
                           input.size, cut_at_end, input.batch_bytes, out, on_span);
  }
  const ByteSpans spans{input.data, key.members(), input.min_span};
  return SpansStartingIn(spans, input.min_span, begin, end, input.size, cut_at_end,
                         input.batch_bytes, out, on_span);
}

namespace {

// Merged steps of a wide scan: the spans of both parities that start in so many bytes are put in
// order of their starts.
constexpr uint64_t kWideChunkBytes = uint64_t{1} << 20;

// Whether the unit of two stored bytes decodes under the key into a character.
struct CharacterUnit {
  const DecodeTable& decode;
  const uint8_t* unit_char;
  bool operator()(uint8_t first, uint8_t second) const {
    return unit_char[decode[first] | decode[second] << 8] != 0;
  }
};

// The first unit of a parity at or after a byte offset.
uint64_t FirstUnit(uint64_t offset, uint64_t parity) {
  return offset <= parity ? 0 : CeilDiv<uint64_t>(offset - parity, 2);
}

bool ScanWideRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
                   bool cut_at_end, JobOutput& out,
                   const std::function<void(const Span&)>& on_span) {
  // The units whose two bytes are both in the file, per parity.
  const std::array<uint64_t, 2> units = UnitCounts(input.size);
  std::vector<Span> spans[2];
  for (uint64_t from = begin; from < end;) {
    // A region is taken whole: its own ends cut its spans.
    const uint64_t to = cut_at_end ? end : std::min(end, from + kWideChunkBytes);
    for (uint64_t parity = 0; parity < 2; ++parity) {
      spans[parity].clear();
      const UnitSpans<CharacterUnit> finder{
          input.data, {key.decode(), input.unit_char.data()}, parity, input.min_span};
      const uint64_t first = std::min(units[parity], FirstUnit(from, parity));
      const uint64_t last = std::min(units[parity], FirstUnit(to, parity));
      const bool done = SpansStartingIn(
          finder, input.min_span, first, last, units[parity], cut_at_end,
          std::max<uint64_t>(1, input.batch_bytes / 2), out,
          [&](const Span& unit_span) { spans[parity].push_back(finder.Bytes(unit_span)); });
      if (!done) return false;
    }
    // Both parities in the order of their starts.
    std::vector<Span>::const_iterator even = spans[0].begin(), odd = spans[1].begin();
    while (even != spans[0].end() || odd != spans[1].end()) {
      if (odd == spans[1].end() || (even != spans[0].end() && even->start < odd->start)) {
        on_span(*even++);
      } else {
        on_span(*odd++);
      }
    }
    from = to;
  }
  return true;
}

}  // namespace

bool ScanRange(const ScanInput& input, const KeyView& key, uint64_t begin, uint64_t end,
               bool cut_at_end, JobOutput& out, const std::function<void(const Span&)>& on_span) {
  if (input.wide) return ScanWideRange(input, key, begin, end, cut_at_end, out, on_span);
  return ScanKeyRange(input, key, begin, end, cut_at_end, out, on_span);
}

}  // namespace veskor
