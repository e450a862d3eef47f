// The floor that the keys searched so far set for the strings of the keys still to come.
#include "engine/score/rank_floor.h"

#include <algorithm>
#include <functional>

namespace veskor {
namespace {

// The sum of the weights of a key's best strings: 1 + 1/4 + ... + 1/64.
double WeightSum() {
  double sum = 0;
  for (size_t k = 1; k <= KeySummary::kBestCount; ++k) sum += 1.0 / static_cast<double>(k * k);
  return sum;
}

// How far below its proof a floor stays, so that a key below it is strictly below.
constexpr double kMargin = 0.01;

}  // namespace

void RankFloor::Add(const KeySummary& key) {
  if (key.Bounded()) return;
  const Rank rank{key.Score(), key.WeakScore()};
  if (!(rank.score > 0) && !(rank.weak > 0)) return;
  if (best_.size() < kExactRanks) {
    best_.push_back(rank);
    std::push_heap(best_.begin(), best_.end(), std::greater<>());
  } else if (rank > best_.front()) {
    std::pop_heap(best_.begin(), best_.end(), std::greater<>());
    best_.back() = rank;
    std::push_heap(best_.begin(), best_.end(), std::greater<>());
  }
}

float RankFloor::Floor() const {
  if (best_.size() < kExactRanks) return 0;
  const Rank& last = best_.front();
  // Without evidence a key ranks by its best string below the threshold: one whose strings
  // all score less ranks lower.
  if (!(last.score > 0)) return std::max(0.0f, last.weak - static_cast<float>(kMargin));
  const double below = std::min(last.score, maybe_) - kMargin;
  if (!(below > 0)) return 0;
  return static_cast<float>(KeySummary::kThresholdBits + below / WeightSum());
}

double RankFloor::BoundOf(std::vector<float> values) {
  std::sort(values.begin(), values.end(), std::greater<>());
  double bound = 0;
  for (size_t k = 0; k < std::min(values.size(), KeySummary::kBestCount); ++k) {
    const double above = values[k] - KeySummary::kThresholdBits;
    if (above <= 0) break;
    bound += above / static_cast<double>((k + 1) * (k + 1));
  }
  return bound;
}

}  // namespace veskor
