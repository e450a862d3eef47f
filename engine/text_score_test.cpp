// The text score: pieces against the whole string, and which strings count as text or noise.
#include "engine/text_score.h"

#include <gtest/gtest.h>

#include <string>

#include "text/cp1251.h"

namespace veskor {
namespace {

std::string Xor(std::string text, uint8_t key) {
  for (char& c : text) c = static_cast<char>(c ^ key);
  return text;
}

// Text of each kind scores well above what the same bytes give under a wrong key, and above
// the threshold a key's summary counts.
TEST(TextScore, TextBeatsItsWrongKeyDecodings) {
  const std::string texts[] = {
      "The gardener planted a row of tulips beside the fence.",
      "https://downloads.riverstone.example/tools/setup.exe",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Riverstone\\Updater",
      "/usr/local/share/riverstone/templates/letter.txt",
      "rsync --archive --delete /home/anna/music backup:/srv",
      "getWindowTitle(handle, buffer_size)",
      Utf8ToCp1251("Сегодня вечером мы поедем к бабушке на дачу."),
  };
  for (const std::string& text : texts) {
    const float score = TextScore(text);
    EXPECT_GT(score, 2.0f * text.size()) << text;
    for (uint8_t key : {0x01, 0x07, 0x20, 0x5A}) {
      EXPECT_LT(TextScore(Xor(text, key)), score / 2) << text << " key " << int(key);
    }
  }
}

TEST(TextScore, NoiseScoresBelowZero) {
  const std::string noises[] = {
      std::string(40, 'Z'),   "abababababababababababab", "[ZZZ\\ZZZ]ZZZ^ZZZ_ZZZ`ZZZ",
      "xq#7Kz!pW@v$2Lm^9Rt&", std::string(24, '='),
  };
  for (const std::string& noise : noises) EXPECT_LT(TextScore(noise), 0.0f) << noise;
  // A long run of one byte keeps losing.
  EXPECT_LT(TextScore(std::string(400, 'e')), TextScore(std::string(40, 'e')));
}

// A string fed in pieces scores exactly as the whole string, whatever the cuts, also inside
// periodic runs; Reset starts afresh.
TEST(TextScore, PiecesScoreAsTheWhole) {
  const std::string text = "Meet me at noon: ZZZZZZZZ abcabcabcabc C:\\Temp\\notes.txt";
  const float whole = TextScore(text);
  TextScorer scorer;
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    for (size_t second = cut; second <= text.size(); second += 5) {
      scorer.Reset();
      scorer.Feed(text.substr(0, cut));
      scorer.Feed(text.substr(cut, second - cut));
      scorer.Feed(text.substr(second));
      ASSERT_EQ(scorer.Score(), whole) << cut << " " << second;
      ASSERT_EQ(scorer.Length(), text.size());
    }
  }
  scorer.Reset();
  EXPECT_EQ(scorer.Score(), 0.0f);
  scorer.Feed("ZZZ");  // no periodic run carried over from the previous string
  EXPECT_EQ(scorer.Score(), TextScore("ZZZ"));
}

}  // namespace
}  // namespace veskor
