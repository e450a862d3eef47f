// The ranking of a real search of all keys over held-out text stored under each keyed cipher.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>

#include "engine/decoding/algorithms.h"
#include "engine/score/key_summary.h"
#include "engine/score/text_score.h"
#include "engine/search/line_maker.h"
#include "engine/search/row_search.h"

namespace veskor {
namespace {

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
  SearchFields fields;
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
