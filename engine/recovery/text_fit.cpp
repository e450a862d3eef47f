// The columns' frequency analysis: each column's byte counts tried under all 256 key bytes
// against the single-byte model of text, the best few of each column tried again against the
// byte pairs they make with their neighbours, then the stretch narrowed to where the decoded
// bytes read as text (the best-scoring stretch of bytes, each scored above or below a threshold).
#include "engine/recovery/text_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/recovery/text_bytes.h"

namespace veskor {
namespace {

// A decoded byte counts toward the text stretch when the pair it ends scores above this (bits);
// else against it.
constexpr float kPairThreshold = -9.0f;
// Equal bytes a period apart this many times in a row: a key leak, left out of the counts (text
// under a key has them about once in 200,000 positions).
constexpr int kLeakRepeats = 4;
// The key bytes of a column that the pair model weighs, of the single-byte model's best.
constexpr int kPairChoices = 16;
// The bytes from the stretch's start that the pair model reads, and its rounds over the columns.
constexpr uint64_t kPairBytes = 8192;
constexpr int kPairRounds = 3;
// The bytes from a stretch's start that the columns are counted over: enough for any key.
constexpr uint64_t kFitBytes = 65536;
// A key that agrees with a key of a divisor of its period in this share of its bytes is that
// key.
constexpr double kFoldAgreement = 0.75;
// A first fit this far from text is not narrowed to look for text beside other bytes.
constexpr float kRescueDivergence = 4.0f;
// The fewest bytes counted over the columns that can make a fit.
constexpr double kMinCounted = 64;
// Columns this far from text (bits per byte) are no text under any key: not refined.
constexpr float kHopelessDivergence = 2.8f;

using Counts = std::array<std::array<uint32_t, 256>, 32>;

// count * log2(count) of the small counts that most columns hold, built when the program starts
// (never inside a guarded body).
const std::array<float, 1024> kCountBits = [] {
  std::array<float, 1024> table{};
  for (uint32_t c = 1; c < table.size(); ++c) {
    table[c] = static_cast<float>(c * std::log2(static_cast<double>(c)));
  }
  return table;
}();

double CountBits(uint32_t count) {
  return count < kCountBits.size() ? kCountBits[count]
                                   : count * std::log2(static_cast<double>(count));
}

// Counts the bytes of each column of [start, end), less the stretches that repeat with the
// period.
void CountColumns(const uint8_t* data, uint64_t start, uint64_t end, int period, Counts& counts) {
  const auto n = static_cast<uint64_t>(period);
  int column = static_cast<int>(start % n);
  int repeats = 0;
  // Bit t: the byte t positions back was counted (n + kLeakRepeats <= 36 positions are undone).
  uint64_t counted = 0;
  for (uint64_t i = start; i < end; ++i) {
    const bool repeat = i >= start + n && data[i] == data[i - n];
    repeats = repeat ? repeats + 1 : 0;
    counted <<= 1;
    if (repeats == kLeakRepeats) {
      // The stretch began a period before its first repeat: take back what was counted of it.
      for (uint64_t back = 1; back <= n + kLeakRepeats - 1 && back <= i - start; ++back) {
        if ((counted >> back & 1) == 0) continue;
        const uint64_t at = i - back;
        --counts[at % n][data[at]];
        counted &= ~(uint64_t{1} << back);
      }
    }
    if (repeats < kLeakRepeats) {
      ++counts[column][data[i]];
      counted |= 1;
    }
    if (++column == period) column = 0;
  }
}

// Each column's key byte under the single-byte model, its best kPairChoices, and the divergence.
// The score of key k, the sum over the column's bytes b of bits[b ^ k], is one correlation over
// all 256 keys at once.
void FitColumns(const uint8_t* data, uint64_t start, uint64_t end, int period, TextFit& fit,
                std::array<std::array<uint8_t, kPairChoices>, 32>& choices) {
  const float* model = TextByteTransform();
  Counts counts{};
  CountColumns(data, start, end, period, counts);
  std::array<std::array<float, 256>, 32> columns;
  double divergence = 0, total = 0;
  for (int c = 0; c < period; ++c) {
    std::array<float, 256> scores;
    double own = 0, n = 0;
    for (int b = 0; b < 256; ++b) {
      const auto count = static_cast<float>(counts[c][b]);
      scores[b] = count;
      n += count;
    }
    WalshTransform(scores);
    for (int k = 0; k < 256; ++k) scores[k] *= model[k] * (1.0f / 256);
    WalshTransform(scores);
    int best = 0;
    for (int k = 1; k < 256; ++k) best = scores[k] > scores[best] ? k : best;
    fit.key[c] = static_cast<uint8_t>(best);
    columns[c] = scores;
    if (n == 0) continue;
    // The column's own bits: the sum of count * log2(count / n).
    for (int b = 0; b < 256; ++b) {
      const uint32_t count = counts[c][b];
      if (count > 0) own += CountBits(count);
    }
    own -= n * std::log2(n);
    divergence += own - scores[best];
    total += n;
  }
  // Too few bytes left once the key leaks are left out: nothing to read as text.
  fit.divergence = total >= std::max(kMinCounted, 4.0 * period)
                       ? static_cast<float>(divergence / total)
                       : std::numeric_limits<float>::infinity();
  if (fit.divergence > kHopelessDivergence) return;
  for (int c = 0; c < period; ++c) {
    std::array<uint8_t, 256> order;
    for (int k = 0; k < 256; ++k) order[k] = static_cast<uint8_t>(k);
    const std::array<float, 256>& scores = columns[c];
    std::partial_sort(order.begin(), order.begin() + kPairChoices, order.end(),
                      [&](uint8_t a, uint8_t b) { return scores[a] > scores[b]; });
    std::copy(order.begin(), order.begin() + kPairChoices, choices[c].begin());
  }
}

// Chooses each column's key byte again among its choices by the pairs it makes with the bytes
// before and after it, decoded with their columns' current keys, over the stretch's first
// kPairBytes; a few rounds, since each column's choice moves its neighbours'.
void RefineByPairs(const uint8_t* data, uint64_t start, uint64_t end, int period, TextFit& fit,
                   const std::array<std::array<uint8_t, kPairChoices>, 32>& choices) {
  const float* pairs = TextPairTable();
  const auto n = static_cast<uint64_t>(period);
  end = std::min(end, start + kPairBytes);
  if (end - start < 3 * n) return;
  for (int round = 0; round < kPairRounds; ++round) {
    bool changed = false;
    for (int c = 0; c < period; ++c) {
      const uint8_t before_key = fit.key[(c + period - 1) % period];
      const uint8_t after_key = fit.key[(c + 1) % period];
      // The first offset of the column inside the stretch.
      uint64_t first = start + (static_cast<uint64_t>(c) + n - start % n) % n;
      float best = -1e30f;
      uint8_t best_key = fit.key[c];
      for (const uint8_t k : choices[c]) {
        float score = 0;
        for (uint64_t i = first; i < end; i += n) {
          const uint8_t d = data[i] ^ k;
          if (i > start) score += pairs[(data[i - 1] ^ before_key) * 256 + d];
          if (i + 1 < end) score += pairs[d * 256 + (data[i + 1] ^ after_key)];
        }
        if (score > best) {
          best = score;
          best_key = k;
        }
      }
      changed |= best_key != fit.key[c];
      fit.key[c] = best_key;
    }
    if (!changed) break;
  }
}

// Narrows [start, end) to its best-scoring stretch under the key (each byte scored by the pair
// it ends, above or below kPairThreshold), and scores it.
void Narrow(const uint8_t* data, uint64_t start, uint64_t end, TextFit& fit) {
  const float* bits = TextByteTable();
  const float* pairs = TextPairTable();
  const auto period = static_cast<uint64_t>(fit.period);
  double run = 0, best = 0;
  uint64_t run_start = start, best_start = start, best_end = start;
  uint64_t column = start % period;
  uint8_t before = 0;
  for (uint64_t i = start; i < end; ++i) {
    const uint8_t d = data[i] ^ fit.key[column];
    if (++column == period) column = 0;
    const float b = i > start ? pairs[before * 256 + d] : bits[d];
    before = d;
    if (run <= 0) {
      run = 0;
      run_start = i;
    }
    run += b - kPairThreshold;
    if (run > best) {
      best = run;
      best_start = run_start;
      best_end = i + 1;
    }
  }
  fit.start = best_start;
  fit.end = best_end;
  double sum = 0, pair_sum = 0, stored = 0;
  uint64_t stored_count = 0;
  // Repeats a period apart, and the positions they are counted over, outside the runs of
  // kLeakRepeats or more repeats that the columns' counts leave out (key leaks, indentation).
  uint64_t repeats = 0, weighed = 0;
  int repeat_run = 0;
  column = best_start % period;
  for (uint64_t i = best_start; i < best_end; ++i) {
    const uint8_t d = data[i] ^ fit.key[column];
    if (++column == period) column = 0;
    sum += bits[d];
    if (i > best_start) {
      pair_sum += pairs[before * 256 + d];
      // Pairs with a zero byte are left out: wide text stored plainly reads as text without
      // them.
      if (data[i] != 0 && data[i - 1] != 0) {
        stored += pairs[data[i - 1] * 256 + data[i]];
        ++stored_count;
      }
    }
    if (i >= best_start + period) {
      if (data[i] != data[i - period]) {
        repeat_run = 0;
        ++weighed;
      } else if (++repeat_run < kLeakRepeats) {
        ++repeats;
        ++weighed;
      } else if (repeat_run == kLeakRepeats) {
        repeats -= kLeakRepeats - 1;
        weighed -= kLeakRepeats - 1;
      }
    }
    before = d;
  }
  const double length = static_cast<double>(best_end - best_start);
  fit.text_bits = length > 0 ? static_cast<float>(sum / length) : kPairThreshold;
  fit.stored_pair_bits =
      stored_count > 0 ? static_cast<float>(stored / static_cast<double>(stored_count)) : 0;
  fit.pair_bits = length > 1 ? static_cast<float>(pair_sum / (length - 1)) : kPairThreshold;
  fit.repeat_rate =
      weighed > 0 ? static_cast<float>(static_cast<double>(repeats) / static_cast<double>(weighed))
                  : 0;
}

// Fits the columns of [start, end) (at most kFitBytes of it), and refines the fit by pairs
// unless the columns are too far from text; false when they are.
bool FitOnce(const uint8_t* data, uint64_t start, uint64_t end, TextFit& fit) {
  end = std::min(end, start + kFitBytes);
  std::array<std::array<uint8_t, kPairChoices>, 32> choices;
  FitColumns(data, start, end, fit.period, fit, choices);
  if (fit.divergence > kHopelessDivergence) return false;
  RefineByPairs(data, start, end, fit.period, fit, choices);
  return true;
}

// Folds the fit's key to the shortest divisor of its period that most of it repeats: a window of
// a multiple of the true period has fewer bytes per column, and a few of its columns may go
// wrong.
void Fold(TextFit& fit) {
  const int n = fit.period;
  for (int d = 2; d < n; ++d) {
    if (n % d != 0) continue;
    std::array<uint8_t, 32> folded{};
    int agree = 0;
    for (int r = 0; r < d; ++r) {
      // The most common byte among key[r], key[r + d], ...; the first of them on a tie.
      std::array<uint8_t, 256> votes{};
      int best = 0;
      for (int j = r; j < n; j += d) {
        const int v = ++votes[fit.key[j]];
        if (v > best) {
          best = v;
          folded[r] = fit.key[j];
        }
      }
      agree += best;
    }
    if (agree >= kFoldAgreement * n) {
      for (int j = 0; j < n; ++j) fit.key[j] = j < d ? folded[j] : 0;
      fit.period = d;
      return;
    }
  }
}

}  // namespace

void FitTextKey(const uint8_t* data, uint64_t start, uint64_t end, int period, TextFit& fit) {
  fit = {};
  fit.period = period;
  const bool hopeful = FitOnce(data, start, end, fit);
  // Text in a window that also holds other bytes: the first fit may already read the text,
  // though the other bytes spoil its columns. Narrowed to what reads as text, fitted again.
  if (!hopeful && fit.divergence > kRescueDivergence) {
    fit.end = fit.start;
    return;
  }
  Narrow(data, start, end, fit);
  const uint64_t length = fit.end - fit.start;
  if (length >= static_cast<uint64_t>(period) * 4 && length < (end - start) * 9 / 10) {
    const uint64_t narrowed_start = fit.start, narrowed_end = fit.end;
    if (FitOnce(data, narrowed_start, narrowed_end, fit)) {
      Narrow(data, start, end, fit);
      Fold(fit);
      return;
    }
  } else if (hopeful) {
    Fold(fit);
    return;
  }
  fit.end = fit.start;
}

}  // namespace veskor
