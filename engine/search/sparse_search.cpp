// The pair values that two alphabet bytes give, and the regions where they follow each other.
#include "engine/search/sparse_search.h"

#include <algorithm>

#include "engine/search/capped_collector.h"
#include "engine/search/job_runner.h"
#include "engine/search/key_scan.h"
#include "engine/search/span_finder.h"
#include "engine/search/unit_spans.h"
#include "text/arithmetic.h"

namespace veskor {
namespace {

// What a pair of stored bytes keeps under every key: b ^ b' for XOR8, b' - b for ADD8 and SUB8.
PairValue PairValueFor(CipherFamily family) {
  return family == CipherFamily::kXor ? PairValue::kXor : PairValue::kDifference;
}

// The pair values of the byte pairs (first, second) for which `is_pair` holds.
template <class IsPair>
std::array<bool, 256> PairValuesOf(PairValue value, IsPair is_pair) {
  std::array<bool, 256> pair_ok{};
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; ++second) {
      if (is_pair(first, second)) {
        pair_ok[PairValueOf(value, static_cast<uint8_t>(first), static_cast<uint8_t>(second))] =
            true;
      }
    }
  }
  return pair_ok;
}

// The pair values that two alphabet bytes give.
std::array<bool, 256> PairValues(const std::array<bool, 256>& in_alphabet, CipherFamily family) {
  return PairValuesOf(PairValueFor(family), [&](int first, int second) {
    return in_alphabet[first] && in_alphabet[second];
  });
}

// The pair values of the units that are characters (unit_char).
std::array<bool, 256> UnitPairValues(const ScanInput& input, CipherFamily family) {
  return PairValuesOf(PairValueFor(family), [&](int first, int second) {
    return input.unit_char[first | second << 8] != 0;
  });
}

// Pair position i joins bytes i and i + 1.
struct PairSpans {
  const uint8_t* data;
  const ByteClass& pairs;
  PairValue value;
  uint64_t m;  // pairs: MinLength - 1
  size_t Find(uint64_t limit, SpanState& state, Span* out, size_t capacity) const {
    return FindPairSpans(data, pairs, value, m, limit, state, out, capacity);
  }
  bool Has(uint64_t position) const {
    return pairs.Has(PairValueOf(value, data[position], data[position + 1]));
  }
  uint64_t End(uint64_t position, uint64_t limit) const {
    return PairSpanEnd(data, pairs, value, position, limit);
  }
};

// Whether a unit's pair value is one that some character's unit gives.
struct PairValueUnit {
  const ByteClass& pairs;
  PairValue value;
  bool operator()(uint8_t first, uint8_t second) const {
    return pairs.Has(PairValueOf(value, first, second));
  }
};

}  // namespace

int PairValueCount(const std::array<bool, 256>& in_alphabet, CipherFamily family) {
  const std::array<bool, 256> pair_ok = PairValues(in_alphabet, family);
  return static_cast<int>(std::count(pair_ok.begin(), pair_ok.end(), true));
}

SparseResult FindRegions(const ScanInput& input, CipherFamily family, JobRunner& jobs,
                         size_t max_regions, uint64_t segment_bytes, std::vector<Span>& regions) {
  const ByteClass pairs(PairValues(input.in_alphabet, family));
  const uint64_t positions = input.size - 1;  // the file has at least one byte
  const PairSpans finder{input.data, pairs, PairValueFor(family), input.min_span - 1};
  segment_bytes = std::max<uint64_t>(1, segment_bytes);
  const size_t segments = static_cast<size_t>(CeilDiv(positions, segment_bytes));
  CappedCollector<Span> found(segments, max_regions);
  const bool completed = jobs.RunAll(segments, [&](size_t s, JobOutput& out) {
    const uint64_t begin = s * segment_bytes;
    const uint64_t end = std::min(positions, begin + segment_bytes);
    SpansStartingIn(finder, finder.m, begin, end, positions, false, input.batch_bytes, out,
                    [&](const Span& pair_span) {
                      found.Add(s, {pair_span.start, pair_span.end + 1});
                    });
  });
  if (!completed) return SparseResult::kStopped;
  if (!found.kept_all()) return SparseResult::kTooMany;
  regions = found.Joined();
  return SparseResult::kFound;
}

SparseResult FindWideRegions(const ScanInput& input, CipherFamily family, JobRunner& jobs,
                             size_t max_regions, uint64_t segment_bytes,
                             std::vector<Span>& regions) {
  const ByteClass pairs(UnitPairValues(input, family));
  const PairValueUnit is_pair_value{pairs, PairValueFor(family)};
  // The segments of both parities are the jobs.
  const std::array<uint64_t, 2> units = UnitCounts(input.size);
  const uint64_t segment = std::max<uint64_t>(1, segment_bytes / 2);
  const size_t even_segments = static_cast<size_t>(CeilDiv(units[0], segment));
  const size_t odd_segments = static_cast<size_t>(CeilDiv(units[1], segment));
  CappedCollector<Span> found(even_segments + odd_segments, max_regions);
  const bool completed = jobs.RunAll(even_segments + odd_segments, [&](size_t s, JobOutput& out) {
    const uint64_t parity = s < even_segments ? 0 : 1;
    const uint64_t begin = (parity == 0 ? s : s - even_segments) * segment;
    const uint64_t end = std::min(units[parity], begin + segment);
    const UnitSpans<PairValueUnit> finder{input.data, is_pair_value, parity, input.min_span};
    SpansStartingIn(finder, finder.m, begin, end, units[parity], false,
                    std::max<uint64_t>(1, input.batch_bytes / 2), out,
                    [&](const Span& unit_span) { found.Add(s, finder.Bytes(unit_span)); });
  });
  if (!completed) return SparseResult::kStopped;
  if (!found.kept_all()) return SparseResult::kTooMany;
  std::vector<Span> ranges = found.Joined();
  std::sort(ranges.begin(), ranges.end(),
            [](const Span& a, const Span& b) { return a.start < b.start; });
  regions.clear();
  for (const Span& range : ranges) {
    if (!regions.empty() && range.start < regions.back().end) {
      regions.back().end = std::max(regions.back().end, range.end);
    } else {
      regions.push_back(range);
    }
  }
  return SparseResult::kFound;
}

}  // namespace veskor
