// The text score: one lookup per byte in the generated model automaton, the string's own byte
// frequencies as the second noise explanation, periodic runs, and the best stretch.
#include "engine/text_score.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace veskor {
namespace {

#include "text_model_table.inc"

// Whether the last bytes (the latest in the low byte of `history`) repeat a period of one to
// four bytes: the fourth byte of "ZZZZ", the sixth of "ababab", the eighth of "abcabcab" or
// "abcdabcd". `length` counts the bytes in `history` that belong to the string.
bool Periodic(uint64_t history, uint64_t length) {
  const bool one = length >= 4 && ((history ^ (history >> 8)) & 0xFFFFFF) == 0;
  const bool two = length >= 6 && ((history ^ (history >> 16)) & 0xFFFFFFFF) == 0;
  const bool three = length >= 8 && ((history ^ (history >> 24)) & 0xFFFFFFFFFF) == 0;
  const bool four = length >= 8 && ((history ^ (history >> 32)) & 0xFFFFFFFF) == 0;
  return one | two | three | four;
}

// Digits beyond this many in a row count as noise: numbers in text are short, while tables of
// digits (such as the "00010203..." table of number formatting code) fill whole strings.
constexpr uint32_t kLongestNumber = 10;

constexpr int32_t kNoisePenaltyUnits =
    static_cast<int32_t>(TextScorer::kNoisePenaltyBits * kModelUnitsPerBit);

// The frequency explanation gives a byte seen c times among the n before it the probability
// (c + kPrior / 256) / (n + kPrior): at first close to uniform, later close to the frequency.
constexpr double kPrior = 16.0;
constexpr size_t kLogTable = 1024;

// log2(x) in model units.
int32_t LogUnits(double x) {
  return static_cast<int32_t>(std::lround(std::log2(x) * kModelUnitsPerBit));
}

struct FrequencyLogs {
  std::array<int32_t, kLogTable> count;  // log2(c + kPrior / 256)
  std::array<int32_t, kLogTable> total;  // log2(n + kPrior) - 8, so that uniform is 0
  FrequencyLogs() {
    for (size_t i = 0; i < kLogTable; ++i) {
      count[i] = LogUnits(static_cast<double>(i) + kPrior / 256);
      total[i] = LogUnits(static_cast<double>(i) + kPrior) - LogUnits(256);
    }
  }
  // The gain of the frequency explanation over a uniform byte, in model units.
  int32_t Gain(uint64_t c, uint64_t n) const {
    const int32_t log_c =
        c < kLogTable ? count[c] : LogUnits(static_cast<double>(c) + kPrior / 256);
    const int32_t log_n =
        n < kLogTable ? total[n] : LogUnits(static_cast<double>(n) + kPrior) - LogUnits(256);
    return log_c - log_n;
  }
};

// Built on first use, so that a scorer used during another file's static initialisation finds
// the tables ready; read-only afterwards.
const FrequencyLogs& Logs() {
  static const FrequencyLogs logs;
  return logs;
}

}  // namespace

void TextScorer::Reset() {
  state_ = 0;
  length_ = 0;
  total_ = 0;
  run_ = 0;
  run_start_ = 0;
  best_ = std::numeric_limits<int64_t>::min();
  best_start_ = best_end_ = 0;
  history_ = 0;
  digits_ = 0;
  if (++stamp_ == 0) {  // the stamps wrapped around: every count is stale
    counts_.fill(0);
    stamp_ = 1;
  }
}

void TextScorer::Feed(std::string_view piece) {
  // The state lives in locals while the bytes are scored: the stores into the count table
  // could otherwise alias the members and force them through memory on every byte.
  uint32_t state = state_;
  uint64_t length = length_;
  int64_t total = total_, run = run_, best = best_;
  uint64_t run_start = run_start_, best_start = best_start_, best_end = best_end_;
  uint64_t history = history_;
  uint32_t digits = digits_;
  const uint64_t stamp = uint64_t{stamp_} << 32;
  const FrequencyLogs& logs = Logs();
  for (char c : piece) {
    const uint8_t byte = static_cast<uint8_t>(c);
    const uint32_t entry = kModelTable[(state << 8) | kModelColumn[byte]];
    state = entry >> 16;
    int32_t gain = static_cast<int16_t>(entry & 0xFFFF);

    // The frequency explanation can only beat a uniform byte for a byte seen before.
    const uint64_t stamped = counts_[byte];
    const uint32_t count = (stamped & ~uint64_t{0xFFFFFFFF}) == stamp ? uint32_t(stamped) : 0;
    counts_[byte] = stamp | (count + (count != UINT32_MAX));
    if (count != 0) gain -= std::max(0, logs.Gain(count, length));

    history = (history << 8) | byte;
    ++length;
    digits = static_cast<unsigned>(byte - '0') < 10 ? digits + 1 : 0;
    if (Periodic(history, length) || digits > kLongestNumber) {
      gain = std::min(gain, -kNoisePenaltyUnits);
    }

    total += gain;
    if (run <= 0) {  // a stretch that starts here does better than one that includes the past
      run = 0;
      run_start = length - 1;
    }
    run += gain;
    if (run > best) {
      best = run;
      best_start = run_start;
      best_end = length;
    }
  }
  state_ = state;
  length_ = length;
  total_ = total;
  run_ = run;
  best_ = best;
  run_start_ = run_start;
  best_start_ = best_start;
  best_end_ = best_end;
  history_ = history;
  digits_ = digits;
}

float TextScorer::Score() const {
  return length_ == 0 ? 0.0f : static_cast<float>(best_) / kModelUnitsPerBit;
}

float TextScorer::TotalScore() const { return static_cast<float>(total_) / kModelUnitsPerBit; }

float TextScore(std::string_view text) {
  TextScorer scorer;
  scorer.Feed(text);
  return scorer.Score();
}

}  // namespace veskor
