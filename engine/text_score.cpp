// The text score: one lookup per byte in the generated model automaton, and the detection of
// periodic runs beside it.
#include "engine/text_score.h"

#include <algorithm>

namespace veskor {
namespace {

#include "text_model_table.inc"

// A byte counts as periodic once its period has repeated this many bytes: the fourth byte of
// "ZZZZ", the sixth of "ababab", the tenth of "abcabcabca".
constexpr std::array<uint32_t, 4> kPeriodicAfter = {3, 4, 6, 8};

constexpr int32_t kPeriodicPenaltyUnits =
    static_cast<int32_t>(TextScorer::kPeriodicPenaltyBits * kModelUnitsPerBit);

}  // namespace

void TextScorer::Reset() {
  state_ = 0;
  units_ = 0;
  length_ = 0;
  history_ = 0;
  repeats_.fill(0);
}

void TextScorer::Feed(std::string_view piece) {
  uint32_t state = state_;
  int64_t units = units_;
  uint32_t history = history_;
  uint64_t length = length_;
  std::array<uint32_t, kMaxPeriod> repeats = repeats_;
  for (char c : piece) {
    const uint8_t byte = static_cast<uint8_t>(c);
    const uint32_t entry = kModelTable[(state << 8) | byte];
    state = entry >> 16;
    int32_t gain = static_cast<int16_t>(entry & 0xFFFF);
    bool periodic = false;
    for (int p = 0; p < kMaxPeriod; ++p) {
      const bool same = length > static_cast<uint64_t>(p) && ((history >> (8 * p)) & 0xFF) == byte;
      repeats[p] = same ? repeats[p] + 1 : 0;
      periodic |= repeats[p] >= kPeriodicAfter[p];
    }
    if (periodic) gain = std::min(gain, -kPeriodicPenaltyUnits);
    units += gain;
    history = (history << 8) | byte;
    ++length;
  }
  state_ = state;
  units_ = units;
  history_ = history;
  length_ = length;
  repeats_ = repeats;
}

float TextScorer::Score() const { return static_cast<float>(units_) / kModelUnitsPerBit; }

float TextScore(std::string_view text) {
  TextScorer scorer;
  scorer.Feed(text);
  return scorer.Score();
}

}  // namespace veskor
