// The ranking of a real search of all keys: held-out text stored under each keyed cipher, and
// the file's own text read through a key that changes its case.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/score/key_summary.h"
#include "engine/score/rank_floor.h"
#include "engine/score/score_band.h"
#include "engine/score/text_score.h"
#include "engine/search/line_maker.h"
#include "engine/search/row_search.h"
#include "engine/search/test_shrink.h"

namespace veskor {
namespace {

using namespace std::string_literals;

// Scores every accepted string into a row summary and makes no line.
class SummaryLines : public LineMaker {
 public:
  mutable RowSummary row;  // the search below runs on one thread

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
  void Pace(int64_t) override {}
};

// Tab and the printable ASCII characters, strings of seven at least.
SearchFields PrintableFields() {
  SearchFields fields;
  fields.Alphabet = "\t";
  for (int c = 32; c <= 126; ++c) fields.Alphabet += static_cast<char>(c);
  fields.MinLength = 7;
  return fields;
}

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
  const SearchFields fields = PrintableFields();
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

// Makes no line: the search's own judge scores the strings into the row's summary.
class NoLines : public LineMaker {
 public:
  void AppendLine(LineBuffer&, int32_t, int32_t, int64_t, std::string_view) const override {}
  void WriteLine(ByteSink&, int32_t, int32_t, int64_t, const LongText&) const override {}
};

// The summary of every key of `algorithm` over `stored`.
RowSummary Summarize(const std::string& stored, int algorithm, const SearchFields& fields,
                     const LineMaker& lines, const ScanOptions& options = {}) {
  QuietServices services;
  RowSummary summary;
  TScanContext context =
      ContextOver(reinterpret_cast<const uint8_t*>(stored.data()), stored.size(), services, lines);
  context.SingleKey = false;
  context.Summary = &summary;
  ScanAllKeys(
      Algorithms[algorithm], fields, context, [](int) { return true; }, options);
  return summary;
}

// The file's own strings read through a key that changes their case do not lift that key, while
// a text hidden under the same key does.
TEST(RowSummary, TheHostsOwnTextDoesNotLiftAKey) {
  FillAlgorithms();
  const SearchFields fields = PrintableFields();
  // The key of each cipher that shows capitals in small letters, and XOR8's that swaps case.
  auto small_from_capitals = [](int algorithm) {
    for (int key = 1; key < 256; ++key) {
      if (MakeDecodeTable(Algorithms[algorithm].Decode, static_cast<uint8_t>(key))['A'] == 'a') {
        return key;
      }
    }
    return 0;
  };
  const std::string names =
      "leftmiddlecurlybrace\0rightmiddlecurlybrace\0topleftsqbracket\0"
      "botleftsummation\0leftsinglequotemark\0"s;
  // The same names as a compiled unit keeps them: each after its length byte, which the key
  // makes printable, and before a small number.
  std::string counted;
  for (const char* name : {"leftmiddlecurlybrace", "rightmiddlecurlybrace", "topleftsqbracket"}) {
    counted += static_cast<char>(std::strlen(name));
    counted += name;
    counted += "\x03\x01"s;
  }
  const std::string licence =
      "TERMS AND CONDITIONS FOR COPYING\nDISTRIBUTION AND MODIFICATION\n"
      "NO WARRANTY OF ANY KIND\n";
  // The plain bytes around a stretch: names after their length bytes that the key joins across
  // them; a zero-terminated string after bytes of a table; names of mixed case that a shift
  // reads as signs and capitals; a line whose signs the key reads as other signs.
  const std::string pascal =
      "\x19OPTENHANCED_DECOMPILATION\x11OPTERROR_LOG_FILE\x07OPTFLAT"
      "\x1dOPTFULL_TEXT_SEARCH_STOP_LIST\x13OPTINDEX_FILE_NAME\x05"s;
  const std::string sql =
      "\x01\x01\x01\x01 SELECT page FROM used UNION ALL SELECT freepgno FROM freelist WHERE "
      "NOT EXISTS\0"s;
  const std::string mixed = "\x17\x1fTCriticalSectionHandlerTryEnter\0\0\x30\xb0"s;
  const std::string signs =
      "\0  --help={common|optimizers|params|target|warnings|[^]{joined|separate|undocumented}}"
      "[,...].\n\0"s;
  struct Case {
    int algorithm;
    int key;
    std::string host_text;  // stored plain
    std::string hidden;     // stored under the key, or empty
  } cases[] = {
      {0, 0x20, names, ""},
      {0, 0x20, counted, ""},
      {1, small_from_capitals(1), licence, ""},
      {2, small_from_capitals(2), licence, ""},
      {0, 0x20, pascal, ""},
      {1, 0x20, pascal, ""},
      {1, 0x20, sql, ""},
      {1, 0xE0, mixed, ""},
      {0, 0x20, signs, ""},
      {0, 0x20, names, "password for velvet.northwind.com is Timber1234"},
      {1, small_from_capitals(1), licence, "https://files.riverstone.example/tools/setup.exe"},
  };
  for (const Case& c : cases) {
    std::mt19937 rng(17);
    std::string stored;
    for (int part = 0; part < 20; ++part) {
      stored += c.host_text;
      for (int i = 0; i < 300; ++i) stored += static_cast<char>(rng());
    }
    const DecodeTable decode =
        MakeDecodeTable(Algorithms[c.algorithm].Decode, static_cast<uint8_t>(c.key));
    DecodeTable encode{};
    for (int b = 0; b < 256; ++b) encode[decode[b]] = static_cast<uint8_t>(b);
    for (char h : c.hidden) stored += static_cast<char>(encode[static_cast<uint8_t>(h)]);
    const RowSummary summary = Summarize(stored, c.algorithm, fields, NoLines());
    ASSERT_GT(summary[c.key].Count(), 0u) << c.key;
    if (c.hidden.empty()) {
      EXPECT_EQ(summary[c.key].Score(), 0.0) << Algorithms[c.algorithm].Name << " " << c.key;
    } else {
      EXPECT_EQ(summary.Ranking().front(), c.key) << Algorithms[c.algorithm].Name << " " << c.key;
    }
  }
}

// Stores `plain` whole under the algorithm's key and summarizes every key of `algorithm`.
RowSummary SummarizeWhole(const std::string& plain, int stored_under, int key, int algorithm) {
  const DecodeTable decode = MakeDecodeTable(Algorithms[stored_under].Decode, key);
  DecodeTable encode{};
  for (int b = 0; b < 256; ++b) encode[decode[b]] = static_cast<uint8_t>(b);
  std::string stored = plain;
  for (char& c : stored) c = static_cast<char>(encode[static_cast<uint8_t>(c)]);
  return Summarize(stored, algorithm, PrintableFields(), NoLines());
}

// A reading that joins the strings of another never beats it: a table of names in capitals
// ended by zero bytes, which the key 32 off reads as one run of small words and spaces; and
// lines whose ends a twin of another rotation family reads as letters.
TEST(RowSummary, AReadingThatJoinsStringsDoesNotBeatTheOneThatKeepsThem) {
  FillAlgorithms();
  constexpr int kAdd8 = 1, kXor8Rol = 8, kAdd8Rol = 9;
  const char* const words[] = {"HARVEST", "LANTERN", "ORCHID", "GRANITE", "MEADOW",  "VELVET",
                               "COMPASS", "THUNDER", "SADDLE", "PEBBLE",  "WILLOW",  "FALCON",
                               "COBALT",  "JUNIPER", "MARBLE", "TUNDRA",  "GLACIER", "HAMMOCK"};
  std::mt19937 rng(23);
  std::string table;
  for (int i = 0; i < 400; ++i) {
    table += words[rng() % std::size(words)];
    if (rng() % 2) table += words[rng() % std::size(words)];
    table += '\0';
  }
  EXPECT_EQ(SummarizeWhole(table, kAdd8, 0x41, kAdd8).Ranking().front(), 0x41);

  std::ifstream in(VESKOR_HELD_OUT_TEXT, std::ios::binary);
  ASSERT_TRUE(in) << VESKOR_HELD_OUT_TEXT;
  std::string lines, line;
  for (int n = 0; n < 80 && std::getline(in, line); ++n) lines += line + "\n";
  constexpr int kKey = 0x384;  // a rotation of 3 and the byte 0x84: one carry bit apart
  const double kept = SummarizeWhole(lines, kXor8Rol, kKey, kXor8Rol)[kKey].Score();
  const double joined = SummarizeWhole(lines, kXor8Rol, kKey, kAdd8Rol)[kKey].Score();
  EXPECT_GT(kept, joined);
}

// Asks for no line at all: the search is a summary's alone, which keys may leave with a bound.
class SummaryOnly : public NoLines {
 public:
  bool WritesLines() const override { return false; }
};

// A summary under a floor (most keys proved below the first and left with a bound) is the same,
// key for key, whether one worker takes the file whole or two take it in segments; and so with
// a limit on the runs a pass keeps, which sends the keys to groups and the keys left after the
// first to one pass under the floor.
TEST(RowSummary, ASummaryUnderAFloorDoesNotDependOnTheSegments) {
  FillAlgorithms();
  // 320 KiB (at least three segments of a pass of two workers) made as a program is: code-like
  // bytes, zero padding and plain names, the same in every build; with a secret stored under
  // XOR8.
  std::mt19937 rng(41);
  const char* const names[] = {"GetProcAddress", "malloc_usable_size", "Invalid argument",
                               "/usr/share/locale", "%s: cannot open %s"};
  const uint64_t size = test::Shrunk(320u << 10, 210000);
  std::string stored;
  while (stored.size() < size) {
    for (int i = 0; i < 48; ++i) stored += static_cast<char>(rng() % 3 == 0 ? rng() % 16 : rng());
    stored.append(rng() % 24, '\0');
    stored += names[rng() % 5];
  }
  stored.resize(size);
  const std::string secret = "password for velvet.northwind.com is Timber1234";
  for (size_t i = 0; i < secret.size(); ++i) stored[200000 + i] = secret[i] ^ 0x5A;
  const SearchFields fields = PrintableFields();
  for (size_t max_spans : {size_t{12} << 20, size_t{20000}}) {
    std::vector<RowSummary> summaries;
    for (int workers : {1, 2}) {
      ScanOptions options;
      options.workers = workers;
      options.max_spans = max_spans;
      options.rank_floor = std::make_shared<RankFloor>(kKeyBands.maybe);
      summaries.push_back(Summarize(stored, 0, fields, SummaryOnly(), options));
    }
    int bounded = 0;
    for (int key = 1; key <= 255; ++key) {
      EXPECT_EQ(summaries[1][key], summaries[0][key]) << "key " << key << " limit " << max_spans;
      bounded += summaries[0][key].Bounded();
    }
    EXPECT_GT(bounded, 10) << max_spans;
    EXPECT_EQ(summaries[0].Ranking().front(), 0x5A);
  }
}

}  // namespace
}  // namespace veskor
