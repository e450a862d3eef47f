// The per-key summary: the best list, exact merging, the key's score and the ranking.
#include "engine/score/key_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/score/text_score.h"

namespace veskor {
namespace {

TEST(KeySummary, CountsAndBestStrings) {
  KeySummary summary;
  const std::string long_text(300, 'x');
  summary.Add(50, 300, long_text, 40.0f);
  summary.Add(10, 9, "cccdddeee", 40.0f);  // same score, earlier: goes first
  summary.Add(90, 300, long_text, -3.0f);  // as long as the first, later: not the longest
  for (uint64_t i = 0; i < 10; ++i) {
    summary.Add(100 + i, 7, "aaaaaaa", static_cast<float>(30 + i));
  }
  EXPECT_EQ(summary.Count(), 13u);
  EXPECT_EQ(summary.TotalLength(), 300u + 9 + 300 + 70);
  EXPECT_EQ(summary.Longest(), 300u);
  EXPECT_EQ(summary.LongestPosition(), 50u);
  ASSERT_EQ(summary.Best().size(), KeySummary::kBestCount);
  EXPECT_EQ(summary.Best()[0], (BestString{10, 9, 40.0f, "cccdddeee"}));
  EXPECT_EQ(summary.Best()[1].position, 50u);
  EXPECT_EQ(summary.Best()[1].text, long_text.substr(0, KeySummary::kTextBytes));
  // Then the six best of the ten short ones (39 down to 34); 30..33 fell out, and -3, below
  // the threshold, never took a place.
  for (size_t k = 2; k < KeySummary::kBestCount; ++k) {
    EXPECT_EQ(summary.Best()[k].score, static_cast<float>(41 - k));
  }
}

// Blocks summarised apart and merged in any order equal one pass, ties included.
TEST(KeySummary, MergeInAnyOrderEqualsOnePass) {
  std::mt19937 rng(3);
  struct Item {
    uint64_t position, length;
    float score;
  };
  // Scores around the threshold, and all below it, where the weak score is what merges.
  for (const uint32_t top : {30u, 24u}) {
    std::vector<Item> items;
    for (uint64_t i = 0; i < 400; ++i) {
      items.push_back({i * 10, 7 + rng() % 5, static_cast<float>(rng() % top)});  // many ties
    }
    auto summarise = [&](size_t begin, size_t end) {
      KeySummary s;
      for (size_t i = begin; i < end; ++i) {
        s.Add(items[i].position, items[i].length, std::to_string(i), items[i].score);
      }
      return s;
    };
    const KeySummary one_pass = summarise(0, items.size());
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<size_t> cuts = {0, items.size()};
      for (int c = 0; c < 4; ++c) cuts.push_back(rng() % items.size());
      std::sort(cuts.begin(), cuts.end());
      std::vector<KeySummary> blocks;
      for (size_t b = 0; b + 1 < cuts.size(); ++b)
        blocks.push_back(summarise(cuts[b], cuts[b + 1]));
      std::shuffle(blocks.begin(), blocks.end(), rng);
      KeySummary merged;
      for (const KeySummary& block : blocks) merged.Merge(block);
      ASSERT_EQ(merged, one_pass) << trial;
      EXPECT_EQ(merged.Score(), one_pass.Score());
    }
    EXPECT_EQ(one_pass.WeakScore(), top == 24u ? 23.0f : 0.0f);
  }
}

TEST(KeySummary, OneRealStringOutweighsManyJunkStrings) {
  KeySummary junk, real, silent;
  const float just_above = KeySummary::kThresholdBits + 10;
  for (int i = 0; i < 5000; ++i) junk.Add(i * 16, 8, "junkjunk", i % 50 == 0 ? just_above : -20);
  real.Add(123, 40, "https://downloads.riverstone.example/a.zip", 150);
  silent.Add(0, 7, "qqqqqqq", KeySummary::kThresholdBits);
  EXPECT_GT(real.Score(), junk.Score());
  EXPECT_GT(junk.Score(), 0.0);
  EXPECT_EQ(silent.Score(), 0.0);
}

TEST(RowSummary, RankingByScoreThenKey) {
  RowSummary row;
  row.Add(200, 0, 7, "a", 100);
  row.Add(7, 0, 7, "a", 100);
  row.Add(9, 0, 7, "a", 300);
  row.Add(3, 0, 7, "a", -5);  // has a string, scores 0
  row.Add(1, 0, 7, "a", -9);
  EXPECT_EQ(row.Ranking(), (std::vector<int>{9, 7, 200, 1, 3}));
  RowSummary other;
  other.Add(1, 50, 7, "b", 500);
  row.Merge(other);
  EXPECT_EQ(row.Ranking(), (std::vector<int>{1, 9, 7, 200, 3}));
  EXPECT_EQ(row[1].Count(), 2u);
}

// Keys without evidence are told apart by their best string below the threshold (above
// kWeakBits), then by their longest string, not by their number.
TEST(RowSummary, RankingWithoutEvidenceByWeakScoreThenLongest) {
  RowSummary row;
  row.Add(2, 0, 7, "a", -5);
  row.Add(234, 0, 19, "a", -5);
  row.Add(100, 0, 11, "a", -5);
  row.Add(50, 0, 5, "a", 200);
  row.Add(50, 10, 5, "a", 20);  // a key with evidence keeps no weak score
  row.Add(9, 0, 7, "a", 18);
  row.Add(8, 0, 7, "a", 22);
  row.Add(7, 0, 30, "a", KeySummary::kWeakBits);  // not above: only its length counts
  EXPECT_EQ(row.Ranking(), (std::vector<int>{50, 8, 9, 7, 234, 100, 2}));
  EXPECT_EQ(row[50].WeakScore(), 0.0f);
  EXPECT_EQ(row[8].WeakScore(), 22.0f);
}

// The string a key shows is the one that ranks it: its best; without evidence, its best below
// the threshold (the first of equal ones, however the parts merge); else its longest.
TEST(KeySummary, TheShownStringIsTheOneThatRanksTheKey) {
  KeySummary weak, parted, longest;
  weak.Add(10, 30, std::string(30, 'l'), 5);
  weak.Add(50, 9, "weakwords", 20);
  weak.Add(70, 9, "lessweak!", 18);
  EXPECT_EQ(weak.BestText(), "weakwords");
  EXPECT_EQ(weak.BestPosition(), 50u);
  EXPECT_EQ(weak.BestLength(), 9u);
  KeySummary first, second;
  first.Add(90, 7, "laterrr", 20);
  second.Add(40, 7, "earlier", 20);
  parted.Merge(first);
  parted.Merge(second);
  EXPECT_EQ(parted.BestText(), "earlier");
  weak.Add(99, 7, "evident", 40);  // evidence: the weak string is shown no more
  EXPECT_EQ(weak.BestText(), "evident");
  longest.Add(5, 12, "longest text", 3);
  EXPECT_EQ(longest.BestText(), "longest text");
  EXPECT_EQ(longest.BestPosition(), 5u);
}

// Keys that carry a bound come after every scored key, the highest bound first, then the
// longest; a bound is written as the next hundredth above it.
TEST(RowSummary, BoundedKeysFollowTheScoredOnes) {
  RowSummary row;
  row.Add(1, 0, 7, "a", 30);   // 6
  row.Add(2, 0, 7, "a", -5);   // 0
  row.Add(3, 0, 9, "a", -5);   // bound 4
  row.Add(4, 0, 7, "a", -5);   // bound 5
  row.Add(5, 0, 12, "a", -5);  // bound 4, longer than 3
  row[3].SetBound(4);
  row[4].SetBound(5);
  row[5].SetBound(4);
  EXPECT_EQ(row.Ranking(), (std::vector<int>{1, 2, 4, 5, 3}));
  const struct {
    double bound, above;
  } cases[] = {{0, 0.01}, {7.5, 7.51}, {7.499, 7.5}, {7.505, 7.51}, {11.99, 12}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(BoundAbove(c.bound), c.above) << c.bound;
}

}  // namespace
}  // namespace veskor
