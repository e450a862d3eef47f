// The floor that the keys searched so far set: what it proves, and the bound of a key below it.
#include "engine/score/rank_floor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veskor {
namespace {

KeySummary KeyOf(std::vector<float> scores) {
  KeySummary key;
  uint64_t position = 0;
  for (float score : scores) key.Add(position += 10, 7, "strings", score);
  return key;
}

// A key whose strings all score at most the floor ranks below the kExactRanks-th key and below
// the "maybe" band; before kExactRanks keys rank, nothing is proved.
TEST(RankFloor, AKeyAtTheFloorRanksBelowTheFirstKeysAndTheBand) {
  const struct {
    std::vector<float> best;  // the kExactRanks-th key's best strings
    double maybe;
  } cases[] = {{{30}, 12}, {{40, 35}, 12}, {{80}, 12}, {{20}, 12}, {{0}, 12}};
  for (const auto& c : cases) {
    RankFloor floor(c.maybe);
    for (size_t i = 1; i < RankFloor::kExactRanks; ++i) floor.Add(KeyOf({100}));
    EXPECT_EQ(floor.Floor(), 0.0f);
    const KeySummary last = KeyOf(c.best);
    floor.Add(last);
    floor.Add(KeyOf({}));  // no evidence nor weak score: proves nothing
    const float at = floor.Floor();
    if (c.best[0] <= KeySummary::kWeakBits) {
      EXPECT_EQ(at, 0.0f);
      continue;
    }
    const KeySummary below = KeyOf(std::vector<float>(KeySummary::kBestCount, at));
    const double bound = RankFloor::BoundOf(std::vector<float>(KeySummary::kBestCount, at));
    EXPECT_NEAR(below.Score(), bound, 1e-4);
    if (last.Score() > 0) {
      EXPECT_LT(below.Score(), std::min(last.Score(), c.maybe)) << c.best[0];
    } else {
      EXPECT_EQ(below.Score(), 0.0);
      EXPECT_LT(at, last.WeakScore());
    }
  }
}

// Only a better key raises the floor, and a key with a bound never does.
TEST(RankFloor, OnlyBetterKeysRaiseIt) {
  RankFloor floor(60);
  for (size_t i = 0; i < RankFloor::kExactRanks; ++i) floor.Add(KeyOf({30}));
  const float at = floor.Floor();
  floor.Add(KeyOf({28}));
  EXPECT_EQ(floor.Floor(), at);
  KeySummary bounded = KeyOf({90});
  bounded.SetBound(1);
  floor.Add(bounded);
  EXPECT_EQ(floor.Floor(), at);
  for (size_t i = 0; i < RankFloor::kExactRanks; ++i) floor.Add(KeyOf({40}));
  EXPECT_GT(floor.Floor(), at);
}

}  // namespace
}  // namespace veskor
