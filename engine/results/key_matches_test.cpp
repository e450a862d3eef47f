// One key's strings that pass a filter, counted: under a row's key or an ANY row's pair, stopped
// by its own flag and not by the run's, and refused on a changed or missing file.
#include "engine/results/key_matches.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/search/scan_context.h"

namespace veskor {
namespace {

constexpr int kXorKey = 0x5A;
// Neither half's bytes make a string under the other half's key.
constexpr int kAddKey = 0xC0;
constexpr size_t kXorIndex = 0;  // the algorithms' order
constexpr size_t kAddIndex = 1;
constexpr int kXorStrings = 36;  // every third with a URL
constexpr int kAddStrings = 21;

std::string Printable() {
  std::string alphabet;
  for (int c = 0x20; c < 0x7F; ++c) alphabet.push_back(static_cast<char>(c));
  return alphabet;
}

// Strings between zero characters: kXorStrings stored under XOR8 kXorKey, then kAddStrings under
// ADD8 kAddKey.
std::string StoredStrings() {
  std::string stored;
  char text[64];
  for (int i = 0; i < kXorStrings; ++i) {
    std::snprintf(text, sizeof text,
                  i % 3 == 0 ? "%c http://x%02d.example/gate.php" : "%cplain %02d", '\0', i);
    for (const char c : std::string(text, 1 + std::strlen(text + 1))) {
      stored.push_back(static_cast<char>(c ^ kXorKey));
    }
  }
  stored.push_back(static_cast<char>(0 ^ kXorKey));
  for (int i = 0; i < kAddStrings; ++i) {
    std::snprintf(text, sizeof text, i % 3 == 0 ? "%csee http://y%02d.test/" : "%cwords %02d", '\0',
                  i);
    for (const char c : std::string(text, 1 + std::strlen(text + 1))) {
      stored.push_back(static_cast<char>(c - kAddKey));
    }
  }
  stored.push_back(static_cast<char>(0 - kAddKey));
  return stored;
}

bool HasUrl(std::string_view text) { return text.find("http://") != std::string_view::npos; }

class KeyMatchesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillAlgorithms();
    // CTest runs the tests side by side: each has a file of its own.
    path_ = ::testing::TempDir() + "key_matches_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    const std::string stored = StoredStrings();
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << stored;
    search_.input = path_;
    search_.stamp = StampOf(path_);
    ASSERT_TRUE(FindAlgorithm("XOR8", search_.algorithm));
    search_.fields = {Printable(), "", 7, 0};
    search_.format = "%3d | %*d | %s";
    search_.width = DecimalWidth(stored.size());
  }
  void TearDown() override { std::remove(path_.c_str()); }

  // The same file searched by an ANY row.
  RunSearch AnySearch() const {
    RunSearch any = search_;
    any.algorithm = TAlgorithm();
    any.algorithm.Name = std::string(kAnyAlgorithmName);
    any.any = true;
    return any;
  }

  std::string path_;
  RunSearch search_;
  std::atomic<bool> stop_{false};
};

TEST_F(KeyMatchesTest, CountsTheStringsThatPassUnderTheKeyOrPair) {
  struct Case {
    const char* name;
    bool any;
    int key;
    bool urls_only;
    uint64_t count;
  } cases[] = {
      {"the row's key, URLs", false, kXorKey, true, kXorStrings / 3},
      {"the row's key, every string", false, kXorKey, false, kXorStrings},
      {"another key", false, kAddKey, true, 0},
      {"a pair of another algorithm", true, RowSummary::PairId(kAddIndex, kAddKey), true,
       kAddStrings / 3},
      {"that pair, every string", true, RowSummary::PairId(kAddIndex, kAddKey), false, kAddStrings},
      {"the same key under XOR8", true, RowSummary::PairId(kXorIndex, kAddKey), true, 0},
      {"the XOR8 pair", true, RowSummary::PairId(kXorIndex, kXorKey), true, kXorStrings / 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> shares;
    const MatchCount counted = CountKeyMatches(
        c.any ? AnySearch() : search_, c.key, c.urls_only ? HasUrl : nullptr, stop_,
        [&](double share) { shares.push_back(share); }, 64);
    EXPECT_EQ(counted.status, MatchCount::Status::kCounted);
    EXPECT_EQ(counted.count, c.count);
    ASSERT_FALSE(shares.empty());
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_EQ(shares.back(), 1.0);
  }
}

TEST_F(KeyMatchesTest, ItsOwnFlagStopsItAndTheRunsDoesNot) {
  // Set before the count: the first checkpoint ends it before any string reaches the filter.
  int filtered = 0;
  const auto counting_filter = [&](std::string_view text) {
    ++filtered;
    return HasUrl(text);
  };
  stop_.store(true);
  EXPECT_EQ(CountKeyMatches(search_, kXorKey, counting_filter, stop_, nullptr, 1 << 20).status,
            MatchCount::Status::kStopped);
  EXPECT_EQ(filtered, 0);
  // Set after the first slice.
  stop_.store(false);
  const MatchCount stopped = CountKeyMatches(
      search_, kXorKey, HasUrl, stop_, [&](double) { stop_.store(true); }, 64);
  EXPECT_EQ(stopped.status, MatchCount::Status::kStopped);
  // The run's Stop belongs to the run.
  stop_.store(false);
  StopRequested.store(true);
  const MatchCount counted = CountKeyMatches(search_, kXorKey, HasUrl, stop_);
  StopRequested.store(false);
  EXPECT_EQ(counted.status, MatchCount::Status::kCounted);
  EXPECT_EQ(counted.count, uint64_t{kXorStrings / 3});
}

TEST_F(KeyMatchesTest, AChangedOrMissingFileIsNotCounted) {
  std::ofstream(path_, std::ios::binary | std::ios::app) << "x";
  EXPECT_EQ(CountKeyMatches(search_, kXorKey, HasUrl, stop_).status, MatchCount::Status::kChanged);
  std::remove(path_.c_str());
  EXPECT_EQ(CountKeyMatches(search_, kXorKey, HasUrl, stop_).status,
            MatchCount::Status::kCannotRead);
}

}  // namespace
}  // namespace veskor
