// The pair values that two alphabet bytes give, and the regions where they follow each other.
#include "engine/sparse_search.h"

#include <algorithm>
#include <atomic>

#include "engine/job_runner.h"
#include "engine/key_scan.h"
#include "engine/run_finder.h"

namespace veskor {
namespace {

std::array<bool, 256> PairValues(const std::array<bool, 256>& in_alphabet, CipherFamily family) {
  std::array<bool, 256> pair_ok{};
  for (int a = 0; a < 256; ++a) {
    if (!in_alphabet[a]) continue;
    for (int b = 0; b < 256; ++b) {
      if (!in_alphabet[b]) continue;
      pair_ok[family == CipherFamily::kXor ? a ^ b : static_cast<uint8_t>(b - a)] = true;
    }
  }
  return pair_ok;
}

// Pair position i joins bytes i and i + 1.
struct PairRuns {
  const uint8_t* data;
  const ByteClass& pairs;
  PairValue value;
  uint64_t m;  // pairs: MinLength - 1
  size_t Find(uint64_t limit, RunState& state, Span* out, size_t capacity) const {
    return FindPairRuns(data, pairs, value, m, limit, state, out, capacity);
  }
  bool Has(uint64_t position) const {
    const uint8_t a = data[position], b = data[position + 1];
    return pairs.Has(value == PairValue::kXor ? a ^ b : static_cast<uint8_t>(b - a));
  }
  uint64_t End(uint64_t position, uint64_t limit) const {
    return PairRunEnd(data, pairs, value, position, limit);
  }
};

// The pair values of the units that are characters (unit_char).
std::array<bool, 256> UnitPairValues(const ScanInput& input, CipherFamily family) {
  std::array<bool, 256> pair_ok{};
  for (uint32_t unit = 0; unit < 65536; ++unit) {
    if (input.unit_char[unit] == 0) continue;
    const auto low = static_cast<uint8_t>(unit & 0xFF), high = static_cast<uint8_t>(unit >> 8);
    pair_ok[family == CipherFamily::kXor ? low ^ high : static_cast<uint8_t>(high - low)] = true;
  }
  return pair_ok;
}

// The units of one parity (unit j at byte offset 2j + parity) whose pair value a character's unit
// gives.
struct UnitPairRuns {
  const uint8_t* data;
  const ByteClass& pairs;
  PairValue value;
  uint64_t parity;
  uint64_t m;
  bool operator()(uint64_t j) const { return Has(j); }
  bool Has(uint64_t j) const {
    const uint8_t* p = data + 2 * j + parity;
    return pairs.Has(value == PairValue::kXor ? p[0] ^ p[1] : static_cast<uint8_t>(p[1] - p[0]));
  }
  size_t Find(uint64_t limit, RunState& state, Span* out, size_t capacity) const {
    return ProbeRuns(*this, m, limit, state, out, capacity, 0);
  }
  uint64_t End(uint64_t j, uint64_t limit) const {
    while (j < limit && Has(j)) ++j;
    return j;
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
  const PairValue value = family == CipherFamily::kXor ? PairValue::kXor : PairValue::kDifference;
  const uint64_t positions = input.size - 1;  // the file has at least one byte
  const PairRuns finder{input.data, pairs, value, input.min_run - 1};
  segment_bytes = std::max<uint64_t>(1, segment_bytes);
  const size_t segments = static_cast<size_t>((positions + segment_bytes - 1) / segment_bytes);
  std::vector<std::vector<Span>> found(segments);
  std::atomic<size_t> total{0};
  std::atomic<bool> too_many{false};
  const bool completed = jobs.RunAll(segments, [&](size_t s, JobOutput& out) {
    const uint64_t begin = s * segment_bytes;
    const uint64_t end = std::min(positions, begin + segment_bytes);
    RunsStartingIn(finder, finder.m, begin, end, positions, false, input.batch_bytes, out,
                   [&](const Span& pair_run) {
                     if (too_many.load(std::memory_order_relaxed)) return;
                     if (total.fetch_add(1, std::memory_order_relaxed) >= max_regions) {
                       too_many.store(true);
                       return;
                     }
                     found[s].push_back({pair_run.start, pair_run.end + 1});
                   });
  });
  if (!completed) return SparseResult::kStopped;
  if (too_many.load()) return SparseResult::kTooMany;
  regions.clear();
  for (const std::vector<Span>& part : found)
    regions.insert(regions.end(), part.begin(), part.end());
  return SparseResult::kFound;
}

SparseResult FindWideRegions(const ScanInput& input, CipherFamily family, JobRunner& jobs,
                             size_t max_regions, uint64_t segment_bytes,
                             std::vector<Span>& regions) {
  const ByteClass pairs(UnitPairValues(input, family));
  const PairValue value = family == CipherFamily::kXor ? PairValue::kXor : PairValue::kDifference;
  // The units whose two bytes are both in the file, per parity; the segments of both parities
  // are the jobs.
  const uint64_t units[2] = {input.size / 2, (input.size - 1) / 2};
  const uint64_t segment = std::max<uint64_t>(1, segment_bytes / 2);
  const size_t even_segments = static_cast<size_t>((units[0] + segment - 1) / segment);
  const size_t odd_segments = static_cast<size_t>((units[1] + segment - 1) / segment);
  std::vector<std::vector<Span>> found(even_segments + odd_segments);
  std::atomic<size_t> total{0};
  std::atomic<bool> too_many{false};
  const bool completed = jobs.RunAll(found.size(), [&](size_t s, JobOutput& out) {
    const uint64_t parity = s < even_segments ? 0 : 1;
    const uint64_t begin = (parity == 0 ? s : s - even_segments) * segment;
    const uint64_t end = std::min(units[parity], begin + segment);
    const UnitPairRuns finder{input.data, pairs, value, parity, input.min_run};
    RunsStartingIn(finder, finder.m, begin, end, units[parity], false,
                   std::max<uint64_t>(1, input.batch_bytes / 2), out, [&](const Span& unit_run) {
                     if (too_many.load(std::memory_order_relaxed)) return;
                     if (total.fetch_add(1, std::memory_order_relaxed) >= max_regions) {
                       too_many.store(true);
                       return;
                     }
                     found[s].push_back({2 * unit_run.start + parity, 2 * unit_run.end + parity});
                   });
  });
  if (!completed) return SparseResult::kStopped;
  if (too_many.load()) return SparseResult::kTooMany;
  std::vector<Span> spans;
  for (const std::vector<Span>& part : found) spans.insert(spans.end(), part.begin(), part.end());
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.start < b.start; });
  regions.clear();
  for (const Span& span : spans) {
    if (!regions.empty() && span.start < regions.back().end) {
      regions.back().end = std::max(regions.back().end, span.end);
    } else {
      regions.push_back(span);
    }
  }
  return SparseResult::kFound;
}

}  // namespace veskor
