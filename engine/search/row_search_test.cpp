// The row's search against the reference scanner on generated inputs, for every search and every
// number of workers, and the search's rules.
#include "engine/search/row_search.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/run/row_line_maker.h"
#include "engine/score/key_summary.h"
#include "engine/score/text_score.h"
#include "engine/search/line_maker.h"
#include "engine/search/reference_scanner.h"
#include "engine/search/span_finder.h"
#include "engine/search/span_judge.h"
#include "engine/search/string_filter.h"
#include "engine/search/test_shrink.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

// Lines whose text is written in hex, so that a line never holds a line break of its own; the
// texts the expression is asked about are recorded.
class TestLines : public LineMaker, public StringFilter {
 public:
  std::function<bool(std::string_view)> matcher = [](std::string_view) { return true; };
  mutable std::mutex mutex;
  mutable std::vector<std::string> asked;
  // Makes the line of this position fail, as a format that does not fit would.
  int64_t fail_at = -1;

  bool Matches(std::string_view text, const std::atomic<bool>&,
               const std::function<void()>&) const override {
    std::lock_guard lock(mutex);
    asked.emplace_back(text);
    return matcher(text);
  }
  void AppendLine(LineBuffer& out, int32_t key, int32_t width, int64_t position,
                  std::string_view text) const override {
    if (position == fail_at) throw Error("no line here");
    out.Append(std::to_string(key) + " " + std::to_string(width) + " " + std::to_string(position) +
               " " + Hex(text) + "\r\n");
  }
  void WriteLine(ByteSink& out, int32_t key, int32_t width, int64_t position,
                 const LongText& text) const override {
    struct HexSink : ByteSink {
      ByteSink& to;
      explicit HexSink(ByteSink& sink) : to(sink) {}
      void Write(std::string_view piece) override { to.Write(Hex(piece)); }
    } hex(out);
    out.Write(std::to_string(key) + " " + std::to_string(width) + " " + std::to_string(position) +
              " ");
    text.WriteTo(text.size(), hex);
    out.Write("\r\n");
  }

  static std::string Hex(std::string_view text) {
    std::string hex;
    for (char c : text) {
      hex += "0123456789abcdef"[static_cast<uint8_t>(c) >> 4];
      hex += "0123456789abcdef"[static_cast<uint8_t>(c) & 15];
    }
    return hex;
  }
};

// Records what a search writes and shows; can stop it or fail the log on cue.
class Recorder : public ScanServices {
 public:
  std::string bytes;
  std::vector<int> progress;
  int events = 0;
  std::function<void()> on_events;
  bool fail_writes = false;

  void Write(std::string_view piece) override {
    if (fail_writes) throw Error("full");
    bytes.append(piece);
  }
  void SetProgress(int percent) override { progress.push_back(percent); }
  void Pace(int64_t) override {
    ++events;
    if (on_events) on_events();
  }
};

struct Outcome {
  std::vector<std::string> lines;
  std::vector<int> progress;
  int64_t found;
};

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = bytes.find("\r\n", at);
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// The line of a span as TestLines makes it.
std::string Line(int key, int width, int64_t position, std::string_view text) {
  return std::to_string(key) + " " + std::to_string(width) + " " + std::to_string(position) + " " +
         TestLines::Hex(text);
}

TScanContext ContextFor(const std::string& data, Recorder& services, const LineMaker& lines) {
  return ContextOver(reinterpret_cast<const uint8_t*>(data.data()), data.size(), services, lines);
}

// TestLines also tests the expression.
TScanContext ContextFor(const std::string& data, Recorder& services, const TestLines& lines) {
  return ContextOver(reinterpret_cast<const uint8_t*>(data.data()), data.size(), services, lines,
                     &lines);
}

using PassFunction = std::function<void(const TAlgorithm&, const SearchFields&, TScanContext&)>;

Outcome RunPass(const PassFunction& pass, const std::string& data, int algorithm_index, int key,
                const SearchFields& fields, bool single_key = true, Recorder* recorder = nullptr,
                const TestLines* test_lines = nullptr) {
  FillAlgorithms();
  Recorder local;
  Recorder& services = recorder ? *recorder : local;
  const TestLines default_lines;
  TScanContext context = ContextFor(data, services, test_lines ? *test_lines : default_lines);
  context.Key = key;
  context.SingleKey = single_key;
  pass(Algorithms[algorithm_index], fields, context);
  return {Lines(services.bytes), services.progress, context.Found};
}

void Reference(const TAlgorithm& a, const SearchFields& f, TScanContext& c) {
  ScanPassReference(a, f, c);
}
void Production(const TAlgorithm& a, const SearchFields& f, TScanContext& c) { ScanPass(a, f, c); }
ScanOptions Options(uint64_t batch, uint64_t segment, int workers) {
  ScanOptions options;
  options.batch_bytes = batch;
  options.segment_bytes = segment;
  options.workers = workers;
  options.event_interval = std::chrono::nanoseconds(0);
  return options;
}
PassFunction WithOptions(const ScanOptions& options) {
  return [options](const TAlgorithm& a, const SearchFields& f, TScanContext& c) {
    ScanPass(a, f, c, options);
  };
}

SearchFields Fields(std::string alphabet, int min, int max = 0) {
  SearchFields f;
  f.Alphabet = std::move(alphabet);
  f.MinLength = static_cast<uint8_t>(min);
  f.MaxLength = static_cast<uint8_t>(max);
  return f;
}

TEST(Scanner, WorkedExample) {
  for (const PassFunction& pass : {PassFunction(Reference), PassFunction(Production)}) {
    Outcome o = RunPass(pass, "ab1234567cd89", 3, 0, Fields("1234567890", 7));
    EXPECT_EQ(o.lines, std::vector<std::string>{Line(0, 2, 2, "1234567")});
    EXPECT_EQ(o.found, 1);
    EXPECT_EQ(o.progress.back(), 100);
  }
}

// Rules that both scanners must keep, on small hand-made inputs (NONE, key 0).
TEST(Scanner, LengthAndAlphabetRules) {
  struct Case {
    const char* name;
    std::string data, alphabet;
    int min, max;
    std::vector<std::pair<int64_t, std::string>> expected;
  } cases[] = {
      {"six is too short for seven", "x123456x", "0123456789", 7, 0, {}},
      {"seven is enough", "x1234567x", "0123456789", 7, 0, {{1, "1234567"}}},
      {"min 0 behaves like 1", "a1b22", "0123456789", 0, 0, {{1, "1"}, {3, "22"}}},
      {"max 10 refuses 11 whole", "x12345678901x", "0123456789", 1, 10, {}},
      {"max 10 accepts 10", "x1234567890x", "0123456789", 1, 10, {{1, "1234567890"}}},
      {"max 0 has no limit", std::string(300, '7'), "7", 1, 0, {{0, std::string(300, '7')}}},
      {"min above max accepts nothing", "x1234567x", "0123456789", 8, 7, {}},
      {"empty alphabet", "1234567", "", 1, 0, {}},
      {"one separator byte", "111a222", "12", 3, 0, {{0, "111"}, {4, "222"}}},
      {"span at the start", "1234567zz", "1234567", 7, 0, {{0, "1234567"}}},
      {"span at the end of the file", "zz1234567", "1234567", 7, 0, {{2, "1234567"}}},
      {"whole file one span", "1234567", "1234567", 7, 0, {{0, "1234567"}}},
      {"case matters", "abcABC", "abc", 1, 0, {{0, "abc"}}},
      {"line break bytes", "a\r\nb", "ab\r\n", 1, 0, {{0, "a\r\nb"}}},
      {"bytes above 127 and zero",
       std::string("\xE0\x00\xFF\xFF", 4),
       std::string("\xFF\x00", 2),
       1,
       0,
       {{1, std::string("\x00\xFF\xFF", 3)}}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> expected;
    for (const auto& [position, text] : c.expected) {
      expected.push_back(Line(0, DecimalWidth(c.data.size()), position, text));
    }
    for (const PassFunction& pass : {PassFunction(Reference), PassFunction(Production)}) {
      Outcome o = RunPass(pass, c.data, 3, 0, Fields(c.alphabet, c.min, c.max));
      EXPECT_EQ(o.lines, expected) << c.name;
      EXPECT_EQ(o.found, static_cast<int64_t>(c.expected.size())) << c.name;
      EXPECT_EQ(o.progress.back(), 100) << c.name;
    }
  }
}

TEST(Scanner, ExpressionIsAskedOnlyAfterBothLengthTests) {
  for (const PassFunction& pass : {PassFunction(Reference), PassFunction(Production)}) {
    TestLines lines;
    lines.matcher = [](std::string_view text) { return text.find('5') != text.npos; };
    SearchFields fields = Fields("0123456789", 3, 5);
    fields.RegExp = "5";
    const Outcome o = RunPass(pass, "12 123 123456 345 999", 3, 0, fields, true, nullptr, &lines);
    EXPECT_EQ(lines.asked, (std::vector<std::string>{"123", "345", "999"}));
    EXPECT_EQ(o.lines, std::vector<std::string>{Line(0, 2, 14, "345")});
  }
}

TEST(Scanner, ServiceErrorsEndThePassAndAreNotCounted) {
  for (const PassFunction& pass : {PassFunction(Reference), PassFunction(Production)}) {
    Recorder services;
    services.fail_writes = true;
    EXPECT_THROW(RunPass(pass, "1234567 7654321", 3, 0, Fields("1234567", 7), true, &services),
                 Error);
  }
}

// Plain text made of spans whose lengths sit around the interesting limits, then encoded with
// the inverse of the algorithm so that it decodes back under the key.
// The stored bytes that decode to `plain` under the algorithm and key, stored from offset 0 (a
// running key moves on at every byte).
std::string Encode(std::string plain, int algorithm_index, int key) {
  FillAlgorithms();
  const TAlgorithm& algorithm = Algorithms[algorithm_index];
  uint8_t inverse[256];
  int inverse_of = -1;
  for (size_t i = 0; i < plain.size(); ++i) {
    const int key_here = key + algorithm.Step * static_cast<int>(i & 0xFF);
    if (key_here != inverse_of) {
      for (int b = 0; b < 256; ++b) inverse[algorithm.Decode(uint8_t(b), key_here)] = uint8_t(b);
      inverse_of = key_here;
    }
    plain[i] = static_cast<char>(inverse[static_cast<uint8_t>(plain[i])]);
  }
  return plain;
}

std::string Generate(std::mt19937& rng, size_t size, const std::string& alphabet, int min, int max,
                     int algorithm_index, int key) {
  std::array<bool, 256> member{};
  for (char c : alphabet) member[static_cast<uint8_t>(c)] = true;
  std::vector<uint8_t> members, others;
  for (int b = 0; b < 256; ++b) (member[b] ? members : others).push_back(static_cast<uint8_t>(b));
  const int lengths[] = {1, min - 1, min, min + 1, max, max + 1, 2 * min + 5, 200};
  std::string plain;
  while (plain.size() < size) {
    int length = lengths[rng() % 8];
    if (length < 1) length = 1;
    if (!members.empty()) {
      for (int i = 0; i < length; ++i)
        plain.push_back(static_cast<char>(members[rng() % members.size()]));
    }
    const int gap = 1 + static_cast<int>(rng() % 3);
    if (!others.empty()) {
      for (int i = 0; i < gap; ++i)
        plain.push_back(static_cast<char>(others[rng() % others.size()]));
    }
  }
  plain.resize(size);
  return Encode(plain, algorithm_index, key);
}

std::string RandomAlphabet(std::mt19937& rng, int size) {
  std::vector<int> all(256);
  for (int i = 0; i < 256; ++i) all[i] = i;
  std::shuffle(all.begin(), all.end(), rng);
  std::string alphabet;
  for (int i = 0; i < size; ++i) alphabet.push_back(static_cast<char>(all[i]));
  return alphabet;
}

// Runs the body with the AVX2 span finder (where the processor has it) and with the portable one.
void WithBothSpanFinders(const std::function<void()>& body) {
  const bool vector = VectorSpanFinderEnabled();
  for (bool enabled : {true, false}) {
    EnableVectorSpanFinder(enabled);
    body();
  }
  EnableVectorSpanFinder(vector);
}

// Progress rises through values the reference wrote and ends with the pass's own 100 (which may
// repeat a 100 that the last byte's rounding already gave).
void ExpectProgressOfTheReference(const Outcome& got, const Outcome& expected) {
  ASSERT_FALSE(got.progress.empty());
  EXPECT_EQ(got.progress.back(), 100);
  for (size_t i = 1; i + 1 < got.progress.size(); ++i) {
    EXPECT_LT(got.progress[i - 1], got.progress[i]);
  }
  for (int p : got.progress) {
    EXPECT_NE(std::find(expected.progress.begin(), expected.progress.end(), p),
              expected.progress.end());
  }
}

TEST(Scanner, ProductionAgreesWithReferenceOnGeneratedInputs) {
  WithBothSpanFinders([] {
    std::mt19937 rng(12345);
    const int alphabet_sizes[] = {0, 1, 2, 10, 95, 255, 256};
    // Batches and blocks of every size put spans across both kinds of boundary.
    const ScanOptions options[] = {Options(1, 1, 1),       Options(3, 7, 2),
                                   Options(64, 64, 8),     Options(7, 1000, 2),
                                   Options(1 << 20, 5, 2), Options(1 << 20, 1 << 22, 1)};
    for (int round = 0; round < 300; ++round) {
      const int algorithm = round % 4;
      const uint8_t key = round % 5 == 0 ? 0 : round % 7 == 0 ? 255 : static_cast<uint8_t>(rng());
      const std::string alphabet = RandomAlphabet(rng, alphabet_sizes[rng() % 7]);
      const int min = static_cast<int>(rng() % 10);
      const int max = rng() % 3 == 0 ? 0 : static_cast<int>(rng() % 20);
      const size_t size = 1 + rng() % (round % 10 == 0 ? 5000 : 300);
      const std::string data = Generate(rng, size, alphabet, std::max(min, 1), max, algorithm, key);
      const bool single = round % 3 != 0;
      const SearchFields fields = Fields(alphabet, min, max);
      const Outcome expected = RunPass(Reference, data, algorithm, key, fields, single);
      for (const ScanOptions& option : options) {
        const Outcome got = RunPass(WithOptions(option), data, algorithm, key, fields, single);
        ASSERT_EQ(got.lines, expected.lines)
            << "round " << round << " batch " << option.batch_bytes << " block "
            << option.segment_bytes << " workers " << option.workers;
        ASSERT_EQ(got.found, expected.found);
        ExpectProgressOfTheReference(got, expected);
      }
    }
  });
}

// Spans of min - 1, min and min + 1 members in turn between single non-members, the first at the
// file's start and one of exactly min members ending it.
std::string SpansAroundMin(size_t size, int min) {
  std::string data;
  for (int turn = 0; data.size() < size; ++turn) {
    data.append(static_cast<size_t>(std::max(1, min - 1 + turn % 3)), 'a');
    data += 'x';
  }
  data.resize(size);
  const size_t last = size > static_cast<size_t>(min) ? size - min : 0;
  if (last > 0) data[last - 1] = 'x';
  std::fill(data.begin() + static_cast<std::ptrdiff_t>(last), data.end(), 'a');
  return data;
}

TEST(Scanner, SpansAcrossTheVectorBlocks) {
  // Files of sizes around the 64-byte blocks, with spans that start and end next to the block
  // edges, dense and sparse, and spans about as long as the minimum, under both span finders. The
  // minimums take each window of the vector loop: m of 1, 2 to 3, 4 to 7, 8 to 15, 16 to 31, 32
  // and more.
  constexpr int kAroundMin = -1;
  WithBothSpanFinders([] {
    std::mt19937 rng(64);
    const size_t sizes[] = {1, 63, 64, 65, 127, 128, 129, 130, 191, 192, 193, 255, 256, 257, 1000};
    for (size_t size : sizes) {
      for (int density : {2, 50, 95, 99, kAroundMin}) {
        for (int min : {1, 2, 7, 9, 16, 17, 24, 31, 33, 64}) {
          std::string data(size, 'x');
          if (density == kAroundMin) {
            data = SpansAroundMin(size, min);
          } else {
            for (char& c : data) c = static_cast<int>(rng() % 100) < density ? 'a' : 'x';
            for (size_t edge = 63; edge < size; edge += 64) data[edge] = 'a';  // members at edges
          }
          const SearchFields fields = Fields("a", min);
          const Outcome expected = RunPass(Reference, data, 3, 0, fields);
          for (const ScanOptions& option :
               {Options(128, 1 << 20, 1), Options(200, 64, 2), Options(1 << 20, 1 << 20, 1)}) {
            const Outcome got = RunPass(WithOptions(option), data, 3, 0, fields);
            ASSERT_EQ(got.lines, expected.lines)
                << "size " << size << " density " << density << " min " << min;
          }
        }
      }
    }
  });
}

TEST(Scanner, ManyLinesAcrossBatchesAndChunksAreAllCounted) {
  // More accepted spans than one batch collects before judging them, and more lines than one
  // chunk of a job holds (about 4 MiB of lines in 100,000 of them).
  std::string data;
  for (int i = 0; i < 100000; ++i) data += "ab ";
  const Outcome expected = RunPass(Reference, data, 3, 0, Fields("ab", 2));
  for (int workers : {1, 2}) {
    const Outcome got =
        RunPass(WithOptions(Options(1 << 20, 1 << 17, workers)), data, 3, 0, Fields("ab", 2));
    EXPECT_EQ(got.found, 100000);
    EXPECT_EQ(got.lines, expected.lines);
  }
}

TEST(Scanner, ReferenceProgressRisesByRoundingAndReachesOneHundred) {
  Outcome o = RunPass(Reference, std::string(8, 'x'), 3, 0, Fields("y", 1));
  // position * 100 / 8 rounded half to even: 0, 12.5->12, 25, 37.5->38, 50, 62.5->62, 75, 87.5->88
  EXPECT_EQ(o.progress, (std::vector<int>{12, 25, 38, 50, 62, 75, 88, 100}));
  EXPECT_EQ(ProgressAt(1, 200), 0);  // 0.5 goes to the even neighbour
  EXPECT_EQ(ProgressAt(3, 200), 2);  // 1.5 too
}

TEST(Scanner, StopDropsTheOpenRunAndLeavesTheProgress) {
  // Stop while the span 1234567 at offset 2 is still open.
  for (const PassFunction& pass : {PassFunction(Reference), WithOptions(Options(1, 1, 1))}) {
    Recorder recorder;
    recorder.on_events = [&] {
      if (recorder.events == 5) StopRequested = true;
    };
    const std::string data = "ab1234567cd";
    Outcome o = RunPass(pass, data, 3, 0, Fields("1234567", 7), true, &recorder);
    StopRequested = false;
    EXPECT_TRUE(o.lines.empty());
    EXPECT_TRUE(o.progress.empty() || o.progress.back() != 100);
  }
}

TEST(Scanner, StopLeavesAFileOrderPrefix) {
  std::mt19937 rng(7);
  const std::string data = Generate(rng, 20000, "0123456789", 3, 0, 0, 0x5A);
  const Outcome full = RunPass(Reference, data, 0, 0x5A, Fields("0123456789", 3));
  for (int workers : {1, 2}) {
    for (int stop_at : {1, 10, 100, 1000}) {
      Recorder recorder;
      recorder.on_events = [&] {
        if (recorder.events == stop_at) StopRequested = true;
      };
      Outcome o = RunPass(WithOptions(Options(16, 256, workers)), data, 0, 0x5A,
                          Fields("0123456789", 3), true, &recorder);
      StopRequested = false;
      // Workers may finish before the writing thread has processed that many events.
      if (workers == 1) {
        ASSERT_LT(o.lines.size(), full.lines.size()) << stop_at;
        EXPECT_TRUE(o.progress.empty() || o.progress.back() != 100);
      }
      EXPECT_TRUE(std::equal(o.lines.begin(), o.lines.end(), full.lines.begin()));
      EXPECT_EQ(o.found, static_cast<int64_t>(o.lines.size()));
    }
  }
}

// One reference pass per key, as the run made them before it searched all keys at once.
Outcome ReferenceAllKeys(const std::string& data, int algorithm_index, const SearchFields& fields) {
  FillAlgorithms();
  Outcome all{{}, {}, 0};
  const TAlgorithm& algorithm = Algorithms[algorithm_index];
  for (int key = algorithm.FirstKey; key <= algorithm.LastKey; ++key) {
    Outcome o = RunPass(Reference, data, algorithm_index, key, fields, false);
    all.lines.insert(all.lines.end(), o.lines.begin(), o.lines.end());
    all.found += o.found;
  }
  return all;
}

Outcome AllKeys(const std::string& data, int algorithm_index, const SearchFields& fields,
                const ScanOptions& options, std::vector<int>* keys_done = nullptr,
                Recorder* recorder = nullptr, const TestLines* test_lines = nullptr) {
  FillAlgorithms();
  Recorder local;
  Recorder& services = recorder ? *recorder : local;
  const TestLines default_lines;
  TScanContext context = ContextFor(data, services, test_lines ? *test_lines : default_lines);
  context.SingleKey = false;
  ScanAllKeys(
      Algorithms[algorithm_index], fields, context,
      [&](int key) {
        if (keys_done) keys_done->push_back(key);
        return !StopRequested.load();
      },
      options);
  return {Lines(services.bytes), services.progress, context.Found};
}

// Every search of all keys, with limits that make each fall back or go in groups.
std::vector<ScanOptions> AllKeysOptions() {
  std::vector<ScanOptions> all;
  for (auto search :
       {ScanOptions::Search::kSparse, ScanOptions::Search::kDense, ScanOptions::Search::kEachKey}) {
    for (size_t limit : {size_t{0}, size_t{2}, size_t{1} << 20}) {
      for (int workers : {1, 2, 8}) {
        if (!test::RunsWorkers(workers)) continue;
        ScanOptions options =
            Options(workers == 2 ? 5 : 1 << 20, workers == 8 ? 33 : 1 << 20, workers);
        options.search = search;
        options.max_regions = limit;
        options.max_spans = limit;
        all.push_back(options);
      }
    }
  }
  return all;
}

TEST(Scanner, AllKeysAgreeWithTwoHundredFiftyFiveReferencePasses) {
  const std::vector<ScanOptions> options = AllKeysOptions();
  WithBothSpanFinders([&] {
    std::mt19937 rng(99);
    const int alphabet_sizes[] = {0, 1, 3, 10, 40, 95, 255, 256};
    // A slow build may take fewer rounds: two of each algorithm at least.
    const int rounds = static_cast<int>(test::Shrunk(32, 8));
    for (int round = 0; round < rounds; ++round) {
      const int algorithm = round % 4;
      const std::string alphabet = RandomAlphabet(rng, alphabet_sizes[rng() % 8]);
      const int min = static_cast<int>(rng() % 9);
      const int max = rng() % 3 == 0 ? static_cast<int>(rng() % 12) : 0;
      // Strings hidden under a random key, so that some key finds spans longer than min.
      const uint8_t hidden_key = static_cast<uint8_t>(1 + rng() % 255);
      const std::string data =
          Generate(rng, 1 + rng() % 600, alphabet, std::max(min, 1), max, algorithm, hidden_key);
      const SearchFields fields = Fields(alphabet, min, max);
      const Outcome expected = ReferenceAllKeys(data, algorithm, fields);
      for (const ScanOptions& option : options) {
        std::vector<int> keys;
        const Outcome got = AllKeys(data, algorithm, fields, option, &keys);
        ASSERT_EQ(got.lines, expected.lines)
            << "round " << round << " search " << static_cast<int>(option.search) << " limit "
            << option.max_spans << " workers " << option.workers;
        ASSERT_EQ(got.found, expected.found);
        ASSERT_EQ(keys.size(), 255u);
        EXPECT_EQ(keys.front(), 1);
        EXPECT_EQ(keys.back(), 255);
      }
    }
  });
}

// The rotation families, XOR that keeps zero bytes and the running keys: one key against the
// reference, and all keys against one reference pass per key, by every search that applies.
TEST(Scanner, NewCiphersAgreeWithTheReferenceForOneKeyAndForAllKeys) {
  std::mt19937 rng(2024);
  std::vector<ScanOptions> options;
  for (auto search : {ScanOptions::Search::kAuto, ScanOptions::Search::kEachKey}) {
    for (size_t limit : {size_t{0}, size_t{2}, size_t{1} << 20}) {
      for (int workers : {1, 2}) {
        if (!test::RunsWorkers(workers)) continue;
        ScanOptions option =
            Options(workers == 2 ? 5 : 1 << 20, workers == 2 ? 33 : 1 << 20, workers);
        option.search = search;
        option.max_regions = option.max_spans = limit;
        options.push_back(option);
      }
    }
  }
  const int alphabet_sizes[] = {1, 10, 95, 200};
  for (int algorithm = 8; algorithm < 14; ++algorithm) {
    FillAlgorithms();
    const TAlgorithm& entry = Algorithms[algorithm];
    for (int round = 0; round < 2; ++round) {
      const std::string alphabet = RandomAlphabet(rng, alphabet_sizes[rng() % 4]);
      const int min = 1 + static_cast<int>(rng() % 6);
      const int key = entry.FirstKey + static_cast<int>(rng() % entry.KeyCount());
      const std::string data = Generate(rng, 50 + rng() % 400, alphabet, min, 0, algorithm, key);
      const SearchFields fields = Fields(alphabet, min);
      const Outcome one = RunPass(Reference, data, algorithm, key, fields);
      ASSERT_EQ(RunPass(WithOptions(Options(7, 33, 2)), data, algorithm, key, fields).lines,
                one.lines)
          << entry.Name << " key " << key;
      const Outcome expected = ReferenceAllKeys(data, algorithm, fields);
      EXPECT_FALSE(expected.lines.empty()) << entry.Name;
      for (const ScanOptions& option : options) {
        std::vector<int> keys;
        const Outcome got = AllKeys(data, algorithm, fields, option, &keys);
        ASSERT_EQ(got.lines, expected.lines)
            << entry.Name << " round " << round << " search " << static_cast<int>(option.search)
            << " limit " << option.max_spans << " workers " << option.workers;
        ASSERT_EQ(keys.size(), static_cast<size_t>(entry.KeyCount()));
        EXPECT_EQ(keys.back(), entry.LastKey);
      }
    }
  }
}

// XORK's keys of 2, 3 and 32 bytes, each a place of the row: one key against the reference by
// batches and blocks that cut its key's turns anywhere, and all keys against a reference pass each.
TEST(Scanner, RepeatingKeysAgreeWithTheReference) {
  FillAlgorithms();
  TAlgorithm xork;
  ASSERT_TRUE(FindAlgorithm("XORK", xork));
  std::vector<uint8_t> long_key(32);
  for (size_t i = 0; i < long_key.size(); ++i) long_key[i] = static_cast<uint8_t>(i * 37 + 5);
  const TAlgorithm row = WithXorKeys(
      xork, {XorKeyOfText("0x5a21", ""), XorKeyOfText("8c:61:d2", ""), *XorKey::Of(long_key)});
  auto pass = [&](const PassFunction& with, const std::string& data, int key,
                  const SearchFields& fields) {
    Recorder services;
    const TestLines lines;
    TScanContext context = ContextFor(data, services, lines);
    context.Key = key;
    with(row, fields, context);
    return Lines(services.bytes);
  };
  std::mt19937 rng(37);
  WithBothSpanFinders([&] {
    for (int key = 1; key <= 3; ++key) {
      const std::string alphabet = RandomAlphabet(rng, 95);
      const SearchFields fields = Fields(alphabet, 1 + static_cast<int>(rng() % 6));
      std::string data = Generate(rng, 3000, alphabet, fields.MinLength, 0, 0, 0);
      for (size_t i = 0; i < data.size(); ++i)
        data[i] ^= static_cast<char>(row.XorKeyAt(key)->At(i));
      const std::vector<std::string> expected = pass(Reference, data, key, fields);
      ASSERT_GT(expected.size(), 10u);
      for (const ScanOptions& option : {Options(1, 1, 1), Options(7, 33, 2), Options(64, 1000, 2),
                                        Options(1 << 20, 1 << 20, 1)}) {
        EXPECT_EQ(pass(WithOptions(option), data, key, fields), expected)
            << "key " << key << " batch " << option.batch_bytes;
      }
      // Every place in turn, as one reference pass each.
      std::vector<std::string> every;
      for (int place = 1; place <= 3; ++place) {
        const std::vector<std::string> lines = pass(Reference, data, place, fields);
        every.insert(every.end(), lines.begin(), lines.end());
      }
      Recorder services;
      const TestLines lines;
      TScanContext context = ContextFor(data, services, lines);
      context.SingleKey = false;
      std::vector<int> done;
      ScanAllKeys(
          row, fields, context,
          [&](int k) {
            done.push_back(k);
            return true;
          },
          Options(7, 33, 2));
      EXPECT_EQ(Lines(services.bytes), every);
      EXPECT_EQ(done, (std::vector<int>{1, 2, 3}));
    }
  });
}

TEST(Scanner, DenseSearchOfAFileOfManySegmentsAgreesWithTheReference) {
  // Twenty segments: the file is sampled for its number of spans (segments 0 and 10), a limit
  // far below it sends the keys to groups by the estimate, and small parts split a key's lines
  // over several jobs. The sampled segments are mostly bytes that no key decodes into a span
  // (0x00 and 0x80 in turn: one of the two is never printable), so the estimate is a quarter
  // of the truth and its groups overflow and are grouped again by their counts.
  std::mt19937 rng(23);
  std::string alphabet;
  for (int c = 32; c < 127; ++c) alphabet += static_cast<char>(c);
  for (int algorithm : {0, 2}) {
    std::string data = Generate(rng, 20 * 4096, alphabet, 7, 0, algorithm, 77);
    for (size_t segment : {0, 10}) {
      for (size_t i = segment * 4096; i < segment * 4096 + 3 * 1024; ++i) {
        data[i] = static_cast<char>(i % 2 == 0 ? 0x00 : 0x80);
      }
    }
    const SearchFields fields = Fields(alphabet, 7);
    const Outcome expected = ReferenceAllKeys(data, algorithm, fields);
    ASSERT_GT(expected.found, 1000);
    const size_t spans = static_cast<size_t>(expected.found);
    for (size_t limit : {spans / 10, spans / 3, spans}) {
      for (uint64_t part_spans : {uint64_t{16}, uint64_t{1} << 20}) {
        for (int workers : {1, 2}) {
          if (!test::RunsWorkers(workers)) continue;
          ScanOptions options = Options(1 << 20, 4096, workers);
          options.search = ScanOptions::Search::kDense;
          options.max_spans = limit;
          options.part_spans = part_spans;
          const Outcome got = AllKeys(data, algorithm, fields, options);
          ASSERT_EQ(got.lines, expected.lines) << "algorithm " << algorithm << " limit " << limit
                                               << " parts " << part_spans << " workers " << workers;
          ASSERT_EQ(got.found, expected.found);
        }
      }
    }
  }
}

TEST(Scanner, AllKeysFindAStringOfExactlyMinLengthAtTheFilesEnd) {
  // The last MinLength bytes decode to members under one key only, and end the file. Before
  // them, spans of about MinLength bytes that no key decodes into the alphabet but whose pairs
  // the screening takes up (their differences are those of the alphabet's letters).
  for (int algorithm = 0; algorithm < 3; ++algorithm) {
    for (int min : {1, 2, 7, 16, 17, 31, 64}) {
      std::mt19937 rng(static_cast<unsigned>(min));
      std::string data = Generate(rng, 300, "xyz", min, 0, algorithm, 200);
      const std::string tail = Generate(rng, 1, "q", 1, 0, algorithm, 9) +
                               Generate(rng, static_cast<size_t>(min), "abc", min, 0, algorithm, 9);
      data += tail;
      const SearchFields fields = Fields("abc", min);
      const Outcome expected = ReferenceAllKeys(data, algorithm, fields);
      ASSERT_FALSE(expected.lines.empty());
      for (const ScanOptions& option : AllKeysOptions()) {
        ASSERT_EQ(AllKeys(data, algorithm, fields, option).lines, expected.lines)
            << "algorithm " << algorithm << " min " << min << " search "
            << static_cast<int>(option.search) << " workers " << option.workers;
      }
    }
  }
}

TEST(Scanner, AllKeysFindSpansAroundTheLongestLengthThatTheDenseSearchKeeps) {
  // Spans either side of 4095 letters and far past it, over the screen's blocks and segments,
  // the last ending the file, under XOR8 key 0x21.
  std::mt19937 rng(4095);
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
  std::string data;
  for (size_t length : {4094, 4095, 4096, 4097, 9000, 4095}) {
    data += "#!";
    for (size_t i = 0; i < length; ++i) data.push_back(alphabet[rng() % alphabet.size()]);
  }
  data = Encode(data, 0, 0x21);
  const SearchFields fields = Fields(alphabet, 7);
  const Outcome expected = ReferenceAllKeys(data, 0, fields);
  for (const ScanOptions& option : AllKeysOptions()) {
    ASSERT_EQ(AllKeys(data, 0, fields, option).lines, expected.lines)
        << "search " << static_cast<int>(option.search) << " workers " << option.workers
        << " limit " << option.max_spans;
  }
}

TEST(Scanner, AnErrorComesAfterTheLinesBeforeIt) {
  // The line at one position fails: the lines written are those of the keys before and of the
  // failing key before it, whatever the search and the number of workers.
  std::mt19937 rng(3);
  const std::string data = Generate(rng, 4000, "0123456789", 3, 0, 0, 77);
  const SearchFields fields = Fields("0123456789", 3);
  const Outcome full = ReferenceAllKeys(data, 0, fields);
  const std::string& victim = full.lines[full.lines.size() / 2];
  const int64_t position = std::stoll(victim.substr(victim.find(' ', victim.find(' ') + 1) + 1));
  const auto first = std::find_if(full.lines.begin(), full.lines.end(), [&](const std::string& l) {
    return l.find(" " + std::to_string(position) + " ") != std::string::npos;
  });
  const std::vector<std::string> before(full.lines.begin(), first);
  TestLines lines;
  lines.fail_at = position;
  for (const ScanOptions& option : AllKeysOptions()) {
    Recorder recorder;
    EXPECT_THROW(AllKeys(data, 0, fields, option, nullptr, &recorder, &lines), Error);
    EXPECT_EQ(Lines(recorder.bytes).size(), before.size())
        << static_cast<int>(option.search) << " workers " << option.workers << " limit "
        << option.max_spans;
  }
}

TEST(Scanner, LinesMadeInPlaceAreTheLinesOfTheFormat) {
  // The run's own lines: texts decoded straight into lines of the report format, for every
  // cipher (XOR by words, ADD8 and SUB8 by bytes that carry into none), against the reference,
  // which makes every line whole.
  std::mt19937 rng(17);
  // The key and the width fill some fields, widths among them, which are made once per key.
  // A literal longer than any field, too.
  const std::string formats[] = {"%3d | %*d | %s",         "%3:s",
                                 "[%3:-12.5s|%2:x|%1:*d]", "%3:8s%3:s",
                                 "%-*x|%2:d|%3:s",         std::string(4500, '-') + "%d %2:d %3:s"};
  // A slow build may take fewer rounds: every cipher and every format at least.
  const int rounds = static_cast<int>(test::Shrunk(30, 12));
  for (int round = 0; round < rounds; ++round) {
    const int algorithm = round % 4;
    const std::string alphabet = RandomAlphabet(rng, 40 + static_cast<int>(rng() % 150));
    const SearchFields fields = Fields(alphabet, 1 + static_cast<int>(rng() % 8));
    const bool long_lines = round % 6 == 5;
    const std::string data = Generate(rng, long_lines ? 100 : 200 + rng() % 3000, alphabet,
                                      fields.MinLength, 0, algorithm, 0xC7);
    const RowLineMaker lines(formats[round % 6]);
    FillAlgorithms();
    auto run = [&](bool reference, int workers, bool summary = false) {
      Recorder services;
      TScanContext context = ContextFor(data, services, lines);
      context.SingleKey = false;
      RowSummary row_summary;  // with it, the lines copy texts decoded once for both
      if (summary) context.Summary = &row_summary;
      if (reference) {
        for (int key = 1; key <= 255; ++key) {
          context.Key = static_cast<uint8_t>(key);
          ScanPassReference(Algorithms[algorithm], fields, context);
        }
      } else {
        ScanAllKeys(
            Algorithms[algorithm], fields, context, [](int) { return true; },
            Options(1 << 20, 1 << 20, workers));
      }
      return services.bytes;
    };
    const std::string expected = run(true, 1);
    EXPECT_EQ(run(false, 1), expected) << "round " << round;
    EXPECT_EQ(run(false, 2), expected) << "round " << round;
    EXPECT_EQ(run(false, 2, true), expected) << "round " << round;
  }
}

TEST(Scanner, TheSummaryCountsEveryKeysLinesAndRanksTheHiddenTextFirst) {
  // A sentence hidden under one key among generated spans: every search and number of workers
  // counts each key's lines as the reference writes them, keeps the same summary, and ranks the
  // sentence's key first.
  std::mt19937 rng(23);
  std::string alphabet = "\t";
  for (int b = 32; b <= 126; ++b) alphabet.push_back(static_cast<char>(b));
  const SearchFields fields = Fields(alphabet, 7);
  std::string data = Generate(rng, 3000, alphabet, 7, 0, 0, 0x11);
  const std::string secret = "Meet me at the old mill at noon and bring the files";
  for (char c : secret) data.push_back(static_cast<char>(c ^ 0x5A));
  data += Generate(rng, 2000, alphabet, 7, 0, 0, 0x11);
  std::vector<int64_t> lines_per_key(256, 0);
  for (int key = 1; key <= 255; ++key) {
    lines_per_key[key] =
        RunPass(Reference, data, 0, static_cast<uint8_t>(key), fields, false).found;
  }
  std::optional<std::vector<int>> first_ranking;
  for (const ScanOptions& option : AllKeysOptions()) {
    FillAlgorithms();
    Recorder services;
    const TestLines lines;
    RowSummary summary;
    TScanContext context = ContextFor(data, services, lines);
    context.SingleKey = false;
    context.Summary = &summary;
    ScanAllKeys(
        Algorithms[0], fields, context, [](int) { return true; }, option);
    for (int key = 1; key <= 255; ++key) {
      ASSERT_EQ(static_cast<int64_t>(summary[key].Count()), lines_per_key[key]) << key;
    }
    const std::vector<int> ranking = summary.Ranking();
    ASSERT_FALSE(ranking.empty());
    EXPECT_EQ(ranking.front(), 0x5A);
    EXPECT_NE(summary[0x5A].BestText().find("Meet me at the old mill"), std::string::npos);
    if (!first_ranking) first_ranking = ranking;
    EXPECT_EQ(ranking, *first_ranking) << static_cast<int>(option.search);
  }
}

// The summary of every key's strings as the judge keeps it when it scores each string whole: a
// string counted when the bound rules it out, else added with its score. The lines of a search
// without a summary, their texts read back from the hex of TestLines.
RowSummary ScoredOneByOne(const std::string& data, int algorithm, const SearchFields& fields) {
  FillAlgorithms();
  Recorder services;
  const TestLines lines;
  TScanContext context = ContextFor(data, services, lines);
  context.SingleKey = false;
  ScanAllKeys(
      Algorithms[algorithm], fields, context, [](int) { return true; },
      Options(1 << 20, 1 << 20, 1));
  RowSummary summary;
  for (const std::string& line : Lines(services.bytes)) {
    const size_t width_at = line.find(' ') + 1, position_at = line.find(' ', width_at) + 1;
    const size_t hex = line.find(' ', position_at) + 1;
    std::string text;
    for (size_t i = hex; i + 1 < line.size(); i += 2) {
      text.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    }
    const int key = std::stoi(line);
    const uint64_t position = std::stoull(line.substr(position_at));
    KeySummary& strings = summary[key];
    if (text.size() <= kHeldTextBytes && !TextScoreMayExceed(text, strings.EntryScore())) {
      strings.Count(position, text.size(), text);
      continue;
    }
    TextScorer scorer;
    scorer.Feed(text);
    // A best stretch deep inside is shown from its start.
    const size_t shown = scorer.BestStart() > 32 ? scorer.BestStart() : 0;
    strings.Add(position, text.size(), std::string_view(text).substr(shown), scorer.Score());
  }
  return summary;
}

TEST(Scanner, SpansOfOneByteKeepTheSummaryOfEveryStringScoredWhole) {
  // Padding of lengths around where a span's score settles, short and longer than a held text,
  // alone, running into text and text running into it, and a sentence that fills a key's best
  // strings; narrow and wide.
  std::mt19937 rng(29);
  std::string alphabet = "\t";
  for (int b = 32; b <= 126; ++b) alphabet.push_back(static_cast<char>(b));
  alphabet += "\x86\xAA";  // the Windows-1251 forms of U+2020 and U+0404: wide spans of one byte
  const std::string secret = "Meet me at the old mill at noon and bring the files. ";
  for (int algorithm : {0, 2, 4}) {
    const uint64_t long_span = algorithm == 4 ? 2 * kHeldTextBytes + 6 : kHeldTextBytes + 3;
    std::string plain;
    for (uint64_t length : {1, 2, 3, 4, 5, 6, 7, 8, 30, 31, 32, 33, 34, 35, 64, 65, 300}) {
      for (const char fill : {'\0', 'e', ' '}) {
        for (int i = 0; i < 4; ++i) plain.push_back(static_cast<char>(rng()));
        if (length % 3 == 0) plain += secret.substr(0, 5 + length % 20);
        plain.append(length * (algorithm == 4 ? 2 : 1), fill);
        if (length % 2 == 0) plain += secret.substr(length % 20);
      }
    }
    for (int i = 0; i < 10; ++i) plain += secret;
    plain.append(long_span, '\0');
    plain += "\x01";
    plain.append(long_span, 'z');
    plain += secret;
    // Under 0xC5 the stored bytes are no text of their own: no string is the file's own text,
    // which only counts, and every string is scored as one by one.
    const std::string data = Encode(plain, algorithm, 0xC5);
    const SearchFields fields = Fields(alphabet, algorithm == 4 ? 3 : 1);
    const RowSummary expected = ScoredOneByOne(data, algorithm, fields);
    // Lines made one by one, lines written in place (whose summary reads the stored bytes), and
    // no lines at all, as the runner's summary.
    const TestLines test_lines;
    const RowLineMaker in_place("%3d | %*d | %s");
    const RowLineMaker no_lines("%3d | %*d | %s", false);
    for (const auto& [workers, lines] : std::initializer_list<std::pair<int, const LineMaker&>>{
             {1, test_lines}, {2, test_lines}, {1, in_place}, {2, no_lines}}) {
      if (!test::RunsWorkers(workers)) continue;
      FillAlgorithms();
      Recorder services;
      RowSummary summary;
      TScanContext context = ContextFor(data, services, lines);
      context.SingleKey = false;
      context.Summary = &summary;
      ScanAllKeys(
          Algorithms[algorithm], fields, context, [](int) { return true; },
          Options(1 << 20, 1 << 20, workers));
      for (int key = 1; key <= 255; ++key) {
        EXPECT_EQ(summary[key], expected[key]) << "algorithm " << algorithm << " key " << key;
      }
      if (algorithm != 4) {
        EXPECT_EQ(summary.Ranking().front(), 0xC5);
      }
    }
  }
}

// Random bytes with UTF-16LE strings of the alphabet's characters (Latin and Cyrillic) at even
// and odd offsets, at the start and the end too, stored under the key with the inverse of the
// 8-bit twin of a wide algorithm.
std::string GenerateWide(std::mt19937& rng, size_t size, const std::string& alphabet, int min,
                         int algorithm_index, uint8_t key) {
  std::string plain;
  auto add_string = [&] {
    const int length = std::max(1, min - 1 + static_cast<int>(rng() % 4));
    for (int i = 0; i < length; ++i) {
      const char16_t unit = Cp1251ToChar16(static_cast<uint8_t>(alphabet[rng() % alphabet.size()]));
      plain.push_back(static_cast<char>(unit & 0xFF));
      plain.push_back(static_cast<char>(unit >> 8));
    }
  };
  add_string();
  while (plain.size() + 64 < size) {
    for (int gap = static_cast<int>(rng() % 7); gap > 0; --gap)
      plain.push_back(static_cast<char>(rng()));
    add_string();
  }
  if (rng() % 2 == 0) plain.push_back(static_cast<char>(rng()));  // the last string at an odd end
  add_string();
  return Encode(plain, algorithm_index, key);
}

TEST(Scanner, WideStringsAgreeWithTheReference) {
  // All four wide ciphers, keys 1 and 255 and all keys, strings at even and odd offsets and
  // across blocks, Cyrillic characters, against the reference written from the rule.
  std::mt19937 rng(1251);
  const std::string alphabets[] = {"abcdefghij XYZ", "\xC0\xC1\xC2\xE0\xE1\xE2 .,", "\x00a\xFF"};
  // A slow build may take fewer rounds: every pair of a cipher and an alphabet at least.
  const int rounds = static_cast<int>(test::Shrunk(48, 12));
  for (int round = 0; round < rounds; ++round) {
    const int algorithm = 4 + round % 4;
    const std::string& alphabet = alphabets[round % 3];
    const int min = 1 + static_cast<int>(rng() % 6);
    const SearchFields fields = Fields(alphabet, min, rng() % 4 == 0 ? min + 2 : 0);
    const uint8_t key = round % 2 == 0 ? 1 : 255;
    const std::string data = GenerateWide(rng, 200 + rng() % 2500, alphabet, min, algorithm, key);
    const Outcome expected = RunPass(Reference, data, algorithm, key, fields, true);
    for (const ScanOptions& option :
         {Options(1 << 20, 1 << 20, 1), Options(3, 64, 2), Options(7, 33, 8)}) {
      const Outcome got = RunPass(WithOptions(option), data, algorithm, key, fields, true);
      ASSERT_EQ(got.lines, expected.lines) << "round " << round << " workers " << option.workers;
      ASSERT_EQ(got.found, expected.found);
    }
    if (round % 3 == 0 || algorithm == 7) {
      // The screening of the units' pair values, with every worker count and keep limit (the
      // smallest fall back to a pass per key); a wide search asked for the key sets screens so too.
      const Outcome all = ReferenceAllKeys(data, algorithm, fields);
      for (const ScanOptions& option : AllKeysOptions()) {
        if (option.search != ScanOptions::Search::kSparse) continue;
        ASSERT_EQ(AllKeys(data, algorithm, fields, option).lines, all.lines)
            << "round " << round << " search " << static_cast<int>(option.search) << " limit "
            << option.max_regions << " workers " << option.workers;
      }
    }
  }
}

TEST(Scanner, AWideResourceTableUnderXor8IsFoundWholeUnderItsKey) {
  // The version strings of a Windows program's resources, UTF-16LE with their zero terminators,
  // stored under XOR8 key 0x33 inside random bytes: XOR8W of all keys finds every one of them
  // under key 0x33.
  const std::vector<std::string> strings = {"StringFileInfo",   "040904b0",
                                            "CompanyName",      "Example Software Ltd",
                                            "FileDescription",  "Sample archive tool",
                                            "FileVersion",      "2.4.1.0",
                                            "InternalName",     "sampletool",
                                            "OriginalFilename", "sampletool.exe",
                                            "ProductName",      "Sample Tools",
                                            "ProductVersion",   "2.4.1.0"};
  std::mt19937 rng(33);
  std::string data(70000, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  std::string table;
  for (const std::string& text : strings) {
    for (char c : text) table += {static_cast<char>(c ^ 0x33), static_cast<char>(0x33)};
    table += {static_cast<char>(0x33), static_cast<char>(0x33), static_cast<char>(0x33),
              static_cast<char>(0x33)};  // the terminator and the padding to the next word
  }
  data.replace(40001, table.size(), table);  // at an odd offset
  std::string alphabet = "\t";
  for (int b = 32; b <= 126; ++b) alphabet.push_back(static_cast<char>(b));
  FillAlgorithms();
  Recorder services;
  const RowLineMaker lines("%d %3:s");
  TScanContext context = ContextFor(data, services, lines);
  context.SingleKey = false;
  ScanAllKeys(
      Algorithms[4], Fields(alphabet, 7), context, [](int) { return true; },
      Options(1 << 20, 1 << 14, 2));
  std::vector<std::string> found;
  for (const std::string& line : Lines(services.bytes)) {
    if (line.rfind("51 ", 0) == 0) found.push_back(line.substr(3));
  }
  std::vector<std::string> expected;
  for (const std::string& text : strings) {
    if (text.size() >= 7) expected.push_back(text);
  }
  EXPECT_EQ(found, expected);
}

TEST(Scanner, StoppedAllKeysSearchLeavesWholeKeysThenAFileOrderPrefix) {
  std::mt19937 rng(5);
  for (int algorithm = 0; algorithm < 4; ++algorithm) {
    const std::string data = Generate(rng, 3000, "0123456789", 3, 0, algorithm, 77);
    const SearchFields fields = Fields("0123456789", 3);
    const Outcome full = ReferenceAllKeys(data, algorithm, fields);
    for (const ScanOptions& option : AllKeysOptions()) {
      for (int stop_at : {1, 40, 400}) {
        Recorder recorder;
        recorder.on_events = [&] {
          if (recorder.events == stop_at) StopRequested = true;
        };
        const Outcome got = AllKeys(data, algorithm, fields, option, nullptr, &recorder);
        StopRequested = false;
        ASSERT_LE(got.lines.size(), full.lines.size()) << "algorithm " << algorithm;
        EXPECT_TRUE(std::equal(got.lines.begin(), got.lines.end(), full.lines.begin()))
            << "algorithm " << algorithm << " stop " << stop_at;
        EXPECT_EQ(got.found, static_cast<int64_t>(got.lines.size()));
      }
    }
  }
}

}  // namespace
}  // namespace veskor
