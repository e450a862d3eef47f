// The score bands: where their edges lie, and the band of keys that read real text or noise.
#include "engine/score/score_band.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/score/key_summary.h"
#include "engine/score/text_score.h"

namespace veskor {
namespace {

TEST(ScoreBand, EdgesBelongToTheHigherBand) {
  const struct {
    double score;
    const char* band;
  } cases[] = {
      {0, "noise"},           {std::nextafter(kMaybeScore, 0.0), "noise"},
      {kMaybeScore, "maybe"}, {std::nextafter(kTextScore, 0.0), "maybe"},
      {kTextScore, "text"},   {1e6, "text"},
  };
  for (const auto& c : cases) EXPECT_STREQ(BandName(BandOf(c.score)), c.band) << c.score;
}

// A key's score from its strings, each scored as a run scores it.
double KeyScore(const std::vector<std::string>& strings) {
  KeySummary key;
  uint64_t position = 0;
  for (const std::string& text : strings) {
    key.Add(position, text.size(), text, TextScore(text));
    position += text.size() + 1;
  }
  return key.Score();
}

std::vector<std::string> RandomPrintable(int count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::string> strings;
  for (int i = 0; i < count; ++i) {
    std::string text(7 + random() % 10, ' ');
    for (char& c : text) c = static_cast<char>(32 + random() % 95);
    strings.push_back(text);
  }
  return strings;
}

TEST(ScoreBand, RealTextIsTextAndRandomStringsNoise) {
  const struct {
    std::vector<std::string> strings;
    ScoreBand band;
  } cases[] = {
      {{"Meet me at the old station at nine, bring the papers and the key."}, ScoreBand::kText},
      {{"https://northwind.example.com/gate.php?id=4471&mode=fetch"}, ScoreBand::kText},
      {RandomPrintable(2000, 1), ScoreBand::kNoise},
      {RandomPrintable(2000, 2), ScoreBand::kNoise},
      {{}, ScoreBand::kNoise},
  };
  for (const auto& c : cases) {
    const double score = KeyScore(c.strings);
    EXPECT_EQ(BandOf(score), c.band) << score << " " << (c.strings.empty() ? "" : c.strings[0]);
  }
}

}  // namespace
}  // namespace veskor
