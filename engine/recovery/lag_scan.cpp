// The lag pass: 64 positions at a time, one bit mask per lag, counted per block and followed as
// runs across the steps.
#include "engine/recovery/lag_scan.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>

namespace veskor {
namespace {

bool HasAvx2() { return __builtin_cpu_supports("avx2"); }
bool vector_enabled = HasAvx2();

// The masks of the 64 positions from `at` (at >= kMaxLag, at + 64 <= size).
__attribute__((target("avx2"))) void VectorMasks(const uint8_t* at,
                                                 std::array<uint64_t, kMaxLag + 1>& masks) {
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
  for (int lag = 1; lag <= kMaxLag; ++lag) {
    const __m256i low_before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at - lag));
    const __m256i high_before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32 - lag));
    const auto low_bits =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, low_before)));
    const auto high_bits =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, high_before)));
    masks[lag] = uint64_t{high_bits} << 32 | low_bits;
  }
}

// The same with 64-bit words: bytes that are equal XOR to a zero byte, and the zero bytes of a
// word are found with the carry trick, exactly (the high bit of each byte, without carries
// between bytes).
void WordMasks(const uint8_t* at, std::array<uint64_t, kMaxLag + 1>& masks) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  for (int lag = 1; lag <= kMaxLag; ++lag) {
    uint64_t mask = 0;
    for (int w = 0; w < 8; ++w) {
      uint64_t a, b;
      __builtin_memcpy(&a, at + 8 * w, 8);
      __builtin_memcpy(&b, at + 8 * w - lag, 8);
      const uint64_t x = a ^ b;
      // High bit of each byte set when the byte is zero.
      const uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
      // Gather the eight high bits into eight bits.
      const uint64_t bits = ((zero >> 7) * 0x0102040810204080ULL) >> 56;
      mask |= bits << (8 * w);
    }
    masks[lag] = mask;
  }
}

}  // namespace

LagScan::LagScan(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}

void LagScan::ScalarMasks(uint64_t count, Masks& masks) const {
  for (int lag = 1; lag <= kMaxLag; ++lag) {
    uint64_t mask = 0;
    for (uint64_t t = 0; t < count; ++t) {
      const uint64_t i = pos_ + t;
      if (i >= static_cast<uint64_t>(lag) && data_[i] == data_[i - lag]) mask |= uint64_t{1} << t;
    }
    masks[lag] = mask;
  }
}

void LagScan::Scan(uint64_t end) {
  end = std::min(end, size_);
  Masks masks;
  while (pos_ < end) {
    const uint64_t count = std::min<uint64_t>(64, end - pos_);
    if (count == 64 && pos_ >= kMaxLag) {
      if (vector_enabled) {
        VectorMasks(data_ + pos_, masks);
        TakeVectorMasks(masks);
        continue;
      }
      WordMasks(data_ + pos_, masks);
    } else {
      ScalarMasks(count, masks);
    }
    TakeMasks(masks, count);
  }
}

// The same steps compiled for the processors that have AVX2, whose bit counts are instructions
// (elsewhere a call each).
__attribute__((target("avx2,popcnt,lzcnt,bmi"))) void LagScan::TakeVectorMasks(const Masks& masks) {
  TakeMasks(masks, 64);
}

[[gnu::always_inline]] inline void LagScan::TakeMasks(const Masks& masks, uint64_t count) {
  for (int lag = 1; lag <= kMaxLag; ++lag) {
    const uint64_t mask = masks[lag];
    block_[lag] += static_cast<uint32_t>(std::popcount(mask));
    if (count == 64) {
      if (mask == ~uint64_t{0}) {
        run_[lag] += 64;
        continue;
      }
      const auto head = static_cast<uint64_t>(std::countr_one(mask));
      if (run_[lag] + head >= kLeakRun) OnRunEnd(lag, pos_ + head, run_[lag] + head);
      // Runs inside the step are shorter than kLeakRun: only the one at its end goes on.
      run_[lag] = static_cast<uint64_t>(std::countl_one(mask));
      continue;
    }
    for (uint64_t t = 0; t < count; ++t) {
      if (mask >> t & 1) {
        ++run_[lag];
        continue;
      }
      if (run_[lag] >= kLeakRun) OnRunEnd(lag, pos_ + t, run_[lag]);
      run_[lag] = 0;
    }
  }
  pos_ += count;
  if (pos_ - block_start_ == kBlock) EndBlock();
}

void LagScan::OnRunEnd(int lag, uint64_t end, uint64_t length) {
  // The stored bytes repeat over [end - length - lag, end). A period of one byte (constant
  // bytes: the plain bytes were a run under no key, or a one-byte key) is no leak, and a stretch
  // with a shorter period than `lag` is the leak of that period, found at that lag.
  if (lag == 1) return;
  const uint8_t* last = data_ + end - lag;
  for (int d = 1; d < lag; ++d) {
    if (lag % d != 0) continue;
    int i = d;
    while (i < lag && last[i] == last[i - d]) ++i;
    if (i == lag) return;
  }
  LeakStretch leak{end - length - lag, end, lag, {}};
  const uint64_t first = end - lag;
  for (int i = 0; i < lag; ++i) leak.key[(first + i) % lag] = last[i];
  leaks_.push_back(leak);
}

void LagScan::EndBlock() {
  recent_[blocks_ % kWindowBlocks] = block_;
  ++blocks_;
  block_ = {};
  block_start_ = pos_;
  if (blocks_ < kWindowBlocks) return;
  std::array<uint32_t, kMaxLag + 1> sum{};
  for (const auto& counts : recent_) {
    for (int lag = 1; lag <= kMaxLag; ++lag) sum[lag] += counts[lag];
  }
  EvaluateWindow((blocks_ - kWindowBlocks) * kBlock, pos_, sum);
}

void LagScan::Finish() {
  for (int lag = 1; lag <= kMaxLag; ++lag) {
    if (run_[lag] >= kLeakRun) OnRunEnd(lag, pos_, run_[lag]);
    run_[lag] = 0;
  }
  if (pos_ > block_start_) {
    // The last block is partial: its window is the last kWindowBlocks blocks it ends.
    recent_[blocks_ % kWindowBlocks] = block_;
    ++blocks_;
    block_ = {};
    block_start_ = pos_;
    std::array<uint32_t, kMaxLag + 1> sum{};
    const uint64_t blocks = std::min<uint64_t>(blocks_, kWindowBlocks);
    for (uint64_t b = 0; b < blocks; ++b) {
      for (int lag = 1; lag <= kMaxLag; ++lag)
        sum[lag] += recent_[(blocks_ - 1 - b) % kWindowBlocks][lag];
    }
    EvaluateWindow((blocks_ - blocks) * kBlock, pos_, sum);
  }
  for (PeriodicWindow& open : open_) {
    if (open.period != 0) windows_.push_back(open);
    open = {};
  }
}

// Whether the rates of a period rise from (on, off) to (on_after, off_after) as text's do where
// a table that repeats with a divisor of the period begins: both far above what they were. A
// stretch ends there (or, the other way round, where such a table ends), so that the text is
// fitted on its own, not with the table's columns, which outweigh it. Text under a key that is
// indented in places rises at the period alone (runs of spaces under the key repeat with its
// period only), and stays one stretch.
bool LagScan::Jumps(float on, float off, float on_after, float off_after) {
  return on_after > kMaxJump * on && on_after - on > kMinOnJump && off_after > kMaxJump * off &&
         off_after - off > kMinOffJump;
}

void LagScan::EvaluateWindow(uint64_t start, uint64_t end,
                             const std::array<uint32_t, kMaxLag + 1>& sum) {
  uint64_t total = 0;
  uint32_t most = 0, least = UINT32_MAX;
  for (int lag = 1; lag <= kMaxLag; ++lag) {
    total += sum[lag];
    most = std::max(most, sum[lag]);
    least = std::min(least, sum[lag]);
  }
  // A period's multiples average at most `most` and the other lags at least `least`.
  if (static_cast<float>(most) < kMinRatio * (static_cast<float>(least) + 1.0f)) return;
  const auto positions = static_cast<float>(end - start);
  // Every period that stands out is kept, not only the strongest: a key of 15 bytes also makes
  // lags 5 and 10 stand out a little, and text's own repeats may favour a divisor.
  for (int period = 2; period <= kMaxLag; ++period) {
    uint64_t multiples_sum = 0;
    int multiples = 0;
    for (int lag = period; lag <= kMaxLag; lag += period) {
      multiples_sum += sum[lag];
      ++multiples;
    }
    const float on = static_cast<float>(multiples_sum) / static_cast<float>(multiples);
    const float off =
        static_cast<float>(total - multiples_sum) / static_cast<float>(kMaxLag - multiples);
    if (on < kMinRatio * (off + 1.0f)) continue;
    // Counts of equalities are near Poisson: the other lags' mean is the variance of each.
    const float strength = (on - off) / std::sqrt((off + 1.0f) / static_cast<float>(multiples));
    if (strength < kMinStrength) continue;
    PeriodicWindow& open = open_[period];
    const float on_rate = on / positions, off_rate = off / positions;
    float &low_on = low_on_rate_[period], &high_off = high_off_rate_[period];
    if (open.period != 0 && open.end >= start && !Jumps(low_on, open.off_rate, on_rate, off_rate) &&
        !Jumps(on_rate, off_rate, open.on_rate, high_off)) {
      open.end = end;
      open.strength = std::max(open.strength, strength);
      open.on_rate = std::max(open.on_rate, on_rate);
      open.off_rate = std::min(open.off_rate, off_rate);
      low_on = std::min(low_on, on_rate);
      high_off = std::max(high_off, off_rate);
      continue;
    }
    if (open.period != 0) windows_.push_back(open);
    open = {start, end, period, strength, on_rate, off_rate};
    low_on = on_rate;
    high_off = off_rate;
  }
}

bool VectorLagScanEnabled() { return vector_enabled; }
void EnableVectorLagScan(bool enabled) { vector_enabled = enabled && HasAvx2(); }

}  // namespace veskor
