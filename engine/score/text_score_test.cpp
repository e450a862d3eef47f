// The text score: which strings count as text or noise, text inside noise, and pieces against
// the whole string.
#include "engine/score/text_score.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/score/key_summary.h"
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

// Noise never gains much: its best stretch stays far below what a key's summary counts.
TEST(TextScore, NoiseGainsLittle) {
  const std::string noises[] = {
      std::string(40, 'Z'),
      "abababababababababababab",
      "[ZZZ\\ZZZ]ZZZ^ZZZ_ZZZ`ZZZ",
      "xq#7Kz!pW@v$2Lm^9Rt&",
      std::string(24, '='),
      "1112131415161718191:2122232425262728292:3132333435363738393:",
      "00030004000600070009000=000C00000000000000000000000<00000000",
      // Little variety: tables of small numbers and of byte values under a wrong key.
      ".9.9.7.9.9.9.8.7.9.9.9.8.7.9.9.9.8.7",
      ".5.4.7.6.1.0.3.2.=.<.?.>.9.8.;.:.E.D.G.F",
      "12,7,95,3,14,88,2,9,100,42,7,1,55,6",
      // Machine code and tables read under a key: digits and signs without letters, also after
      // a letter or two, and short names repeated.
      "7542.3.2.1",
      "lo7542.3.2.1",
      "bo42.3.2.1.0",
      "19035.166;0260QPONMLKJHHGFED",
      "7745111:41;1774988884877451111414867745111141>7745111141<==",
      ":;89>?<=2301674598;:1032",
      " mot mot mot mo",
      " at at at a",
  };
  for (const std::string& noise : noises) {
    EXPECT_LT(TextScore(noise), KeySummary::kThresholdBits) << noise;
  }
  // A long span keeps losing in total, while its best stretch stays where it was.
  TextScorer span;
  span.Feed(std::string(40, 'e'));
  const float forty = span.TotalScore();
  span.Feed(std::string(360, 'e'));
  EXPECT_LT(span.TotalScore(), forty - 360 * TextScorer::kNoisePenaltyBits + 1);
  EXPECT_EQ(span.Score(), TextScore(std::string(40, 'e')));
}

// The short strings a program hides read as text by what they are: names of mutexes and pipes,
// credentials (also with letters written as look-alike digits), and the rows of a table.
TEST(TextScore, ShortNamesAndCredentialsPassTheThreshold) {
  const std::string texts[] = {
      "Global\\UpdaterMutex_4f2a",
      "\\\\.\\pipe\\backup_agent",
      "password=Summer2023!",
      "admin:Winter2024",
      "http://203.0.113.7/gate.php?id=4",
      "http://203.0.113.7/gate.php?bot=%s&os=linux",
      "uid=sa;pwd=Harbour77",
      "token=8f3ac29d41e0",
      "Local\\SyncLock",
      "2021-03-14,John Smith,4520.75",
      "l4nt3rn-S1gnal",
      "root:b1sc0it!Otter",
      "g4rd3n.Pl4net",
  };
  for (const std::string& text : texts) {
    EXPECT_GT(TextScore(text), KeySummary::kThresholdBits) << text;
  }
}

// Text inside a long span of padding decoded to one printable byte scores as the text alone,
// and the best stretch finds it.
TEST(TextScore, TextInsidePaddingStillShows) {
  const std::string secret = "https://downloads.riverstone.example/tools/setup.exe";
  const std::string padded = std::string(3000, 'a') + secret + std::string(500, 'a');
  TextScorer scorer;
  scorer.Feed(padded);
  EXPECT_GT(scorer.Score(), TextScore(secret) - 8);
  EXPECT_LT(scorer.TotalScore(), 0.0f);
  EXPECT_NEAR(static_cast<double>(scorer.BestStart()), 3000.0, 3.0);
  EXPECT_NEAR(static_cast<double>(scorer.BestLength()), static_cast<double>(secret.size()), 6.0);
}

// A string fed in pieces scores exactly as the whole string, whatever the cuts, also inside
// periodic patterns; Reset starts afresh.
TEST(TextScore, PiecesScoreAsTheWhole) {
  const std::string text =
      "Meet me at noon: ZZZZZZZZ abcabcabcabc C:\\Temp\\notes.txt .5.4.7.6.1.0 12,7,95,3,14,88";
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
  scorer.Feed("ZZZ");  // no periodic pattern carried over from the previous string
  EXPECT_EQ(scorer.Score(), TextScore("ZZZ"));
}

TEST(TextScore, AStringTheBoundRulesOutNeverScoresAboveTheFloor) {
  // Text, noise, repeats and random bytes of every length: a string that cannot exceed a floor,
  // by the bound, never scores above it; and the bound lets real text through.
  std::mt19937 rng(5);
  std::vector<std::string> texts = {"x",
                                    "The quick brown fox",
                                    "C:\\Windows\\system32\\cmd.exe",
                                    "ZZZZZZZZZZZZ",
                                    "0123456789012345678",
                                    "http://example.org/a?b=1"};
  for (int i = 0; i < 20000; ++i) {
    std::string text(1 + rng() % 60, ' ');
    for (char& c : text) c = static_cast<char>(i % 3 == 0 ? rng() : 32 + rng() % 95);
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    const float score = TextScore(text);
    for (float floor : {-20.0f, 0.0f, 10.0f, 24.0f, 60.0f}) {
      if (!TextScoreMayExceed(text, floor)) {
        ASSERT_LE(score, floor) << text;
      }
    }
    ASSERT_GE(ModelBound(text), score) << text;
  }
  EXPECT_TRUE(TextScoreMayExceed("The quick brown fox jumps over the lazy dog", 24.0f));
}

TEST(TextScore, TheBoundOverStoredBytesIsTheBoundOverTheirText) {
  // Texts stored under a few XOR keys, read through the key's decode table: the same verdict as
  // the bound over the decoded text, at floors low and high (where length alone decides).
  std::mt19937 rng(7);
  std::vector<std::string> texts = {"The quick brown fox jumps over the lazy dog", "ZZZZZZZZZZZZ",
                                    "C:\\Windows\\system32\\cmd.exe", "x"};
  for (int i = 0; i < 5000; ++i) {
    std::string text(1 + rng() % 60, ' ');
    for (char& c : text) c = static_cast<char>(i % 3 == 0 ? rng() : 32 + rng() % 95);
    texts.push_back(text);
  }
  for (const uint8_t key : {0x00, 0x20, 0x5A}) {
    std::array<uint8_t, 256> decode;
    for (int b = 0; b < 256; ++b) decode[b] = static_cast<uint8_t>(b ^ key);
    std::vector<std::string> stored_texts;
    std::vector<StoredText> stored;
    for (const std::string& text : texts) {
      std::string bytes = text;
      for (char& c : bytes) c = static_cast<char>(c ^ key);
      stored_texts.push_back(bytes);
    }
    for (const std::string& bytes : stored_texts) {
      stored.push_back({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    }
    for (float floor : {0.0f, 24.0f, 60.0f, 300.0f}) {
      std::vector<uint8_t> may(texts.size(), 2);
      StoredTextsMayExceed(stored, decode, floor, may.data());
      for (size_t i = 0; i < texts.size(); ++i) {
        ASSERT_EQ(may[i] != 0, TextScoreMayExceed(texts[i], floor))
            << texts[i] << " key " << int{key} << " floor " << floor;
        // The pair bound alone, as a number: what it rules out, the verdict rules out too.
        if (may[i] != 0) {
          ASSERT_GT(StoredPairBound(stored[i].bytes, stored[i].length, decode),
                    static_cast<int64_t>(std::floor(floor * PairGainTable::kUnitsPerBit)))
              << texts[i] << " key " << int{key} << " floor " << floor;
        }
      }
    }
    // Over the printable bytes, the bound with two bytes of context: at least the score, at most
    // the pair bound.
    std::vector<uint8_t> printable;
    for (int c = 32; c < 127; ++c) printable.push_back(static_cast<uint8_t>(c));
    const std::shared_ptr<const TripleGainTable> triple = TripleGains(printable);
    ASSERT_NE(triple, nullptr);
    int64_t pair_total = 0, tight_total = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
      const int64_t pair = StoredPairBound(stored[i].bytes, stored[i].length, decode);
      const int64_t tight = StoredTripleBound(stored[i].bytes, stored[i].length, decode, *triple);
      pair_total += pair;
      tight_total += tight;
      ASSERT_LE(tight, pair) << texts[i] << " key " << int{key};
      ASSERT_GE(static_cast<float>(tight) / PairGainTable::kUnitsPerBit, TextScore(texts[i]))
          << texts[i] << " key " << int{key};
    }
    EXPECT_LT(tight_total, pair_total) << "key " << int{key};
    // The model bounds of many texts followed at once, each its own.
    std::vector<float> bounds(texts.size(), -1);
    StoredModelBounds(stored, decode, bounds.data());
    for (size_t i = 0; i < texts.size(); ++i) {
      ASSERT_EQ(bounds[i], ModelBound(texts[i])) << texts[i] << " key " << int{key};
      ASSERT_GE(static_cast<float>(StoredPairBound(stored[i].bytes, stored[i].length, decode)) /
                    PairGainTable::kUnitsPerBit,
                TextScore(texts[i]))
          << texts[i] << " key " << int{key};
    }
  }
}

// A span of one byte scored without reading it through scores as the whole span fed byte by byte,
// at every length around where its score settles and far beyond.
TEST(TextScore, SpansOfOneByteScoreAsFedWhole) {
  for (const char byte : {'\0', ' ', 'e', 'Z', '0', '.', '\t', '\xE0', '\xFF'}) {
    for (uint64_t length : {1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 31, 32, 33, 34, 64, 1000, 70000}) {
      TextScorer whole;
      whole.Feed(std::string(length, byte));
      TextScorer span;
      span.Feed("abc");  // what the scorer held before is forgotten
      ScoreUniformSpan(span, byte, length);
      EXPECT_EQ(span.Score(), whole.Score()) << int(byte) << " x " << length;
      EXPECT_EQ(span.BestStart(), whole.BestStart()) << int(byte) << " x " << length;
      EXPECT_EQ(span.BestLength(), whole.BestLength()) << int(byte) << " x " << length;
    }
  }
}

// Texts scored together score as each scored alone: real text and its readings under wrong
// keys, and random strings over alphabets that set off each noise rule (digits and dots as
// addresses and numbers, few bytes as periods and progressions, every byte), of every length
// up to past where the frequency explanation's logarithms and the long texts' path change.
TEST(TextScore, TextsScoredTogetherScoreAsEachAlone) {
  std::string real;
  for (const char* name : {"/real.txt", "/technical.txt", "/russian.txt"}) {
    std::ifstream file(std::string(VESKOR_MODEL_TEXTS) + name, std::ios::binary);
    real.append(std::istreambuf_iterator<char>(file), {});
  }
  ASSERT_GT(real.size(), 10000u);
  const std::string alphabets[] = {
      "",
      "0123456789.",
      "1.2,",
      "ab",
      "abc1 ",
      std::string("\0\1\2\xFF\xFE", 5),
      [] {
        std::string printable = "\t";
        for (char c = 32; c < 127; ++c) printable += c;
        return printable;
      }(),
  };
  std::mt19937 rng(11);
  std::vector<std::string> texts = {"", "a 12,7,95,3,14,88 b"};
  for (int i = 0; i < 2000; ++i) {  // addresses, whole or with a number too many
    std::string address = i % 2 ? "host " : "";
    for (int part = 0; part < 4 + i % 3; ++part) address += std::to_string(rng() % 300) + ".";
    address.back() = " x,."[i % 4];
    texts.push_back(address);
  }
  for (int i = 0; i < 30000; ++i) {
    const std::string& alphabet = alphabets[i % std::size(alphabets)];
    const size_t length = i % 100 == 0 ? 1000 + rng() % 3500 : 1 + rng() % 40;
    std::string text;
    if (alphabet.empty()) {
      text = real.substr(rng() % (real.size() - length), length);
      if (i % 3 != 0) text = Xor(text, static_cast<uint8_t>(rng()));
    } else {
      while (text.size() < length) text += alphabet[rng() % alphabet.size()];
    }
    texts.push_back(text);
  }
  const std::vector<std::string_view> views(texts.begin(), texts.end());
  std::vector<float> scores(views.size(), -1.0f);
  TextScores(views, scores.data());
  for (size_t i = 0; i < views.size(); ++i) {
    ASSERT_EQ(scores[i], TextScore(views[i])) << i << ": " << texts[i];
  }
}

}  // namespace
}  // namespace veskor
