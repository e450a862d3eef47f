// The pair values that two alphabet bytes give, and the regions where they follow each other.
#include "engine/sparse_search.h"

#include <algorithm>
#include <atomic>

#include "engine/worker_pool.h"

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

}  // namespace

int PairValueCount(const std::array<bool, 256>& in_alphabet, CipherFamily family) {
  const std::array<bool, 256> pair_ok = PairValues(in_alphabet, family);
  return static_cast<int>(std::count(pair_ok.begin(), pair_ok.end(), true));
}

SparseResult FindRegions(const ScanInput& input, CipherFamily family, WorkerPool& pool,
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
  const bool completed = pool.RunAll(segments, [&](size_t s, JobOutput& out) {
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

}  // namespace veskor
