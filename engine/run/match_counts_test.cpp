// The filter's counts of many keys in one search equal the counts made key by key, for a row of
// every key, an ANY row's pairs, a row with an expression, no filter and a filter that takes
// nothing; a failing filter's error, a stop and a changed file end the count.
#include "engine/run/match_counts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/results/key_matches.h"

namespace veskor {
namespace {

// Random bytes, with a URL stored under XOR8 0x5A and one under ADD8 0xC0 every 4 KiB.
std::string NoiseWithUrls() {
  std::mt19937 random(36);
  std::string bytes(96 << 10, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  const std::string url = "http://gate.example/a.php";
  for (size_t at = 1000; at + 2 * url.size() + 2 < bytes.size(); at += 4096) {
    for (size_t i = 0; i < url.size(); ++i) {
      bytes[at + i] = static_cast<char>(url[i] ^ 0x5A);
      bytes[at + url.size() + 1 + i] = static_cast<char>(url[i] - 0xC0);
    }
  }
  return bytes;
}

bool HasHttp(std::string_view text) { return text.find("http") != std::string_view::npos; }
bool HasQ(std::string_view text) { return text.find('Q') != std::string_view::npos; }
bool Never(std::string_view text) { return text.find('\x01') != std::string_view::npos; }

class MatchCountsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillAlgorithms();
    path_ = ::testing::TempDir() + "match_counts_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << NoiseWithUrls();
    search_.input = path_;
    search_.stamp = StampOf(path_);
    ASSERT_TRUE(FindAlgorithm("XOR8", search_.algorithm));
    std::string printable;
    for (int c = 0x20; c < 0x7F; ++c) printable.push_back(static_cast<char>(c));
    search_.fields = {printable, "", 4, 0};
    search_.format = "%3d | %*d | %s";
    search_.width = DecimalWidth(search_.stamp.size);
    // Small pieces put strings across every boundary of the search.
    options_.workers = 2;
    options_.batch_bytes = 97;
    options_.segment_bytes = 5000;
    options_.event_interval = std::chrono::nanoseconds(0);
  }
  void TearDown() override { std::remove(path_.c_str()); }

  std::string path_;
  RunSearch search_;
  ScanOptions options_;
  std::atomic<bool> stop_{false};
};

TEST_F(MatchCountsTest, OneSearchCountsAsKeyByKey) {
  using Filter = std::function<bool(std::string_view)>;
  // Two repeating keys, places 1 and 2 of a row of XORK.
  const uint8_t first_key[] = {0x12, 0x34}, second_key[] = {0xAB, 0xCD, 0xEF};
  const auto xor_keys = std::make_shared<const std::vector<XorKey>>(
      std::vector<XorKey>{*XorKey::Of(first_key), *XorKey::Of(second_key)});
  RunSearch xork = search_;
  ASSERT_TRUE(FindAlgorithm("XORK", xork.algorithm));
  xork.algorithm = WithXorKeys(xork.algorithm, xor_keys);
  RunSearch any = search_;
  any.any = true;
  any.xor_keys = xor_keys;
  std::vector<int> pairs;
  // A dense search, a sparse one (the wide algorithm), a running key and repeating keys.
  for (const char* name : {"XOR8", "ADD8", "XOR8W", "XOR8INC", "XORK"}) {
    for (size_t a = 0; a < kAlgorithmCount; ++a) {
      if (Algorithms[a].Name != name) continue;
      const TAlgorithm algorithm = KeyAlgorithmOf(any, RowSummary::PairId(static_cast<int>(a), 1));
      for (int key = algorithm.FirstKey; key <= algorithm.LastKey; ++key) {
        pairs.push_back(RowSummary::PairId(static_cast<int>(a), key));
      }
    }
  }
  RunSearch expression = search_;
  expression.fields.RegExp = "[a-z]{3}";
  std::vector<int> every_key;
  for (int key = 1; key <= 255; ++key) every_key.push_back(key);
  // Fewer spans kept than the keys have: the keys go in groups, or one pass each.
  ScanOptions grouped = options_;
  grouped.max_spans = 12000;
  ScanOptions each_key = options_;
  each_key.max_spans = 300;

  struct Case {
    const char* name;
    const RunSearch& search;
    std::vector<int> keys;
    Filter filter;
    const ScanOptions& options;
    bool some;  // some key has matches
  } cases[] = {
      {"every key", search_, every_key, HasHttp, options_, true},
      {"every key in groups", search_, every_key, HasQ, grouped, true},
      {"every key alone", search_, every_key, HasHttp, each_key, true},
      {"a few keys", search_, {0x5A, 7, 0xC0}, HasHttp, options_, true},
      {"ANY pairs", any, pairs, HasHttp, options_, true},
      {"repeating keys", xork, {1, 2}, HasQ, options_, true},
      {"an expression", expression, every_key, HasQ, options_, true},
      {"no filter", search_, every_key, nullptr, options_, true},
      {"nothing passes", search_, every_key, Never, options_, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<int, uint64_t> expected, counted;
    for (int key : c.keys) {
      const MatchCount one = CountKeyMatches(c.search, key, c.filter, stop_);
      ASSERT_EQ(one.status, MatchCount::Status::kCounted);
      expected[key] = one.count;
    }
    std::vector<double> shares;
    const MatchCountsOutcome outcome = CountMatchesOfKeys(
        c.search, c.keys, c.filter, stop_,
        [&](int key, uint64_t count) { EXPECT_TRUE(counted.emplace(key, count).second) << key; },
        [&](double share) { shares.push_back(share); }, c.options);
    EXPECT_EQ(outcome, MatchCountsOutcome::kCounted);
    EXPECT_EQ(counted, expected);
    uint64_t total = 0;
    for (const auto& [key, count] : expected) total += count;
    EXPECT_EQ(total > 0, c.some);
    ASSERT_FALSE(shares.empty());
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_EQ(shares.back(), 1.0);
  }
}

TEST_F(MatchCountsTest, AFailingFilterAStopAndAChangedFileEndTheCount) {
  const std::vector<int> keys = {1, 2, 0x5A};
  std::map<int, uint64_t> counted;
  auto count = [&](int key, uint64_t n) { counted[key] = n; };
  const auto failing = [](std::string_view text) -> bool {
    if (HasHttp(text)) throw std::runtime_error("the filter failed");
    return false;
  };
  EXPECT_THROW(CountMatchesOfKeys(search_, keys, failing, stop_, count, nullptr, options_),
               std::runtime_error);
  EXPECT_EQ(counted.count(0x5A), 0u);

  counted.clear();
  stop_.store(true);
  EXPECT_EQ(CountMatchesOfKeys(search_, keys, HasHttp, stop_, count, nullptr, options_),
            MatchCountsOutcome::kStopped);
  EXPECT_TRUE(counted.empty());
  // Set once a key is told: no other key is.
  stop_.store(false);
  EXPECT_EQ(CountMatchesOfKeys(
                search_, keys, HasHttp, stop_,
                [&](int key, uint64_t n) {
                  count(key, n);
                  stop_.store(true);
                },
                nullptr, options_),
            MatchCountsOutcome::kStopped);
  EXPECT_EQ(counted.size(), 1u);
  counted.clear();
  stop_.store(false);
  // The run's Stop belongs to the run.
  StopRequested.store(true);
  const MatchCountsOutcome unstopped =
      CountMatchesOfKeys(search_, keys, HasHttp, stop_, count, nullptr, options_);
  StopRequested.store(false);
  EXPECT_EQ(unstopped, MatchCountsOutcome::kCounted);
  EXPECT_EQ(counted.size(), keys.size());

  std::ofstream(path_, std::ios::binary | std::ios::app) << "x";
  EXPECT_EQ(CountMatchesOfKeys(search_, keys, HasHttp, stop_, count, nullptr, options_),
            MatchCountsOutcome::kChanged);
  std::remove(path_.c_str());
  EXPECT_EQ(CountMatchesOfKeys(search_, keys, HasHttp, stop_, count, nullptr, options_),
            MatchCountsOutcome::kCannotRead);
}

}  // namespace
}  // namespace veskor
