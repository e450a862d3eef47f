// The per-key summary: the best list, exact merging, the key's score, the ranking, and the
// ranking of a real search over held-out text stored under each keyed cipher.
#include "engine/key_summary.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "engine/algorithms.h"
#include "engine/line_maker.h"
#include "engine/row_search.h"
#include "engine/text_score.h"

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
  std::vector<Item> items;
  for (uint64_t i = 0; i < 400; ++i) {
    items.push_back({i * 10, 7 + rng() % 5, static_cast<float>(rng() % 30)});  // many ties
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
    for (size_t b = 0; b + 1 < cuts.size(); ++b) blocks.push_back(summarise(cuts[b], cuts[b + 1]));
    std::shuffle(blocks.begin(), blocks.end(), rng);
    KeySummary merged;
    for (const KeySummary& block : blocks) merged.Merge(block);
    ASSERT_EQ(merged, one_pass) << trial;
    EXPECT_EQ(merged.Score(), one_pass.Score());
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

// Scores every accepted string into a row summary and makes no line.
class SummaryLines : public LineMaker {
 public:
  mutable RowSummary row;  // the search below runs on one thread

  bool Matches(std::string_view, const std::atomic<bool>&,
               const std::function<void()>&) const override {
    return true;
  }
  void AppendLine(LineBuffer&, int32_t key, int32_t, int64_t position,
                  std::string_view text) const override {
    row.Add(key, static_cast<uint64_t>(position), text.size(), text, TextScore(text));
  }
  void WriteLine(ByteSink&, int32_t, int32_t, int64_t, const LongText&) const override {
    FAIL() << "no string of the held-out text is long enough to arrive in pieces";
  }
};

class QuietServices : public ScanServices {
 public:
  void Write(std::string_view) override {}
  void SetProgress(int) override {}
  void ProcessEvents() override {}
};

// Held-out lines joined by zero bytes and padded with zeros and random bytes, as in a binary,
// then stored under each keyed cipher: the search of all keys ranks the true key first.
TEST(RowSummary, TrueKeyRanksFirstOnHeldOutText) {
  std::ifstream in(VESKOR_HELD_OUT_TEXT, std::ios::binary);
  ASSERT_TRUE(in) << VESKOR_HELD_OUT_TEXT;
  std::mt19937 rng(11);
  std::string plain, line;
  while (std::getline(in, line)) {
    plain += line + std::string(1 + rng() % 40, '\0');
    for (int i = rng() % 64; i > 0; --i) plain += static_cast<char>(rng());
  }
  TSearchFields fields;
  fields.Alphabet = "\t";
  for (int c = 32; c <= 126; ++c) fields.Alphabet += static_cast<char>(c);
  fields.MinLength = 7;
  FillAlgorithms();
  for (int algorithm = 0; algorithm < 3; ++algorithm) {
    for (uint8_t key : {0x01, 0x20, 0x5A, 0xE0, 0xFF}) {
      const DecodeTable decode = MakeDecodeTable(Algorithms[algorithm].Decode, key);
      DecodeTable encode{};
      for (int b = 0; b < 256; ++b) encode[decode[b]] = static_cast<uint8_t>(b);
      std::string stored = plain;
      for (char& c : stored) c = static_cast<char>(encode[static_cast<uint8_t>(c)]);
      QuietServices services;
      SummaryLines lines;
      TScanContext context = ContextOver(reinterpret_cast<const uint8_t*>(stored.data()),
                                         stored.size(), services, lines);
      context.SingleKey = false;
      ScanAllKeys(Algorithms[algorithm], fields, context, [](int) { return true; });
      const std::vector<int> ranking = lines.row.Ranking();
      ASSERT_FALSE(ranking.empty());
      EXPECT_EQ(ranking[0], key) << Algorithms[algorithm].Name;
    }
  }
}

}  // namespace
}  // namespace veskor
