// What the keys searched so far prove of the keys still to come: the score a string must pass
// for its key to rank among a row's first keys or in its "maybe" band.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/score/key_summary.h"

namespace veskor {

// A ranking is exact where it is read: among the first kExactRanks keys of its row and in the
// "maybe" band. A key whose strings all score at most Floor() ranks below both (a key's score
// is at most its best strings' excess over KeySummary::kThresholdBits, weighted 1/k^2; a key
// without evidence ranks by its best string), so its strings need no score: it may carry a
// bound instead (KeySummary::SetBound).
class RankFloor {
 public:
  static constexpr size_t kExactRanks = 20;

  // `maybe`: where the row's "maybe" band begins.
  explicit RankFloor(double maybe) : maybe_(maybe) {}

  // A key searched whole, with its exact score. (Keys that carry a bound rank below all.)
  void Add(const KeySummary& key);
  // The score that a string must pass to matter, by the keys added so far, a little below what
  // the kExactRanks-th best key proves: when it has evidence, KeySummary::kThresholdBits +
  // T / H, where T is the lower of its score and `maybe` and H the sum of the weights of a key's
  // best strings; without, its weak score (KeySummary::WeakScore); 0 while there are fewer keys
  // or the key has neither. Only rises as keys are added.
  float Floor() const;
  // The bound of the score of a key whose strings' scores are at most `values` (of those above
  // the threshold, the highest kBestCount count): the key's score if they were its best strings.
  static double BoundOf(std::vector<float> values);

 private:
  struct Rank {
    double score;
    float weak;
    bool operator>(const Rank& other) const {
      return score != other.score ? score > other.score : weak > other.weak;
    }
  };
  double maybe_;
  std::vector<Rank> best_;  // the best keys so far by score and weak score, a min-heap
};

}  // namespace veskor
