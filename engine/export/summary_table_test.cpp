// The ranking table: which rows and keys it lists, and how a best string is written.
#include "engine/export/summary_table.h"

#include <gtest/gtest.h>

#include "engine/decoding/algorithms.h"

namespace veskor {
namespace {

RowOutcome Outcome(const char* algorithm, RowOutcome::Kind kind, std::optional<int> key) {
  FillAlgorithms();
  RowOutcome outcome;
  outcome.kind = kind;
  outcome.key = key;
  auto summary = std::make_shared<RowSummary>();
  summary->Add(7, 0, 16, "plain words here", 30.f);
  summary->Add(1, 100, 2, "zz", 1.f);
  outcome.summary = summary;
  auto search = std::make_shared<RunSearch>();
  FindAlgorithm(algorithm, search->algorithm);
  outcome.search = search;
  return outcome;
}

TEST(SummaryTable, ListsTheKeysOfRowsThatReadTheirWholeInput) {
  using Kind = RowOutcome::Kind;
  const std::string header = "algo\tkey\tscore\tlines\tchars\tlongest\tbest\n";
  const std::string key7 = "7\t6\t1\t16\t16\tplain words here\n";
  const std::string key1 = "1\t0\t1\t2\t2\tzz\n";
  const struct {
    RowOutcome outcome;
    std::string lines;
  } cases[] = {
      {Outcome("XOR8", Kind::kDone, std::nullopt), "XOR8\t" + key7 + "XOR8\t" + key1},
      {Outcome("XOR8", Kind::kStopped, std::nullopt), "XOR8\t" + key7 + "XOR8\t" + key1},
      {Outcome("XOR8", Kind::kInputFailed, std::nullopt), ""},  // the file shrank
      {Outcome("NONE", Kind::kDone, std::nullopt), "NONE\t" + key1},
      {Outcome("NONE", Kind::kDone, 7), "NONE\t" + key7},
  };
  for (const auto& c : cases) EXPECT_EQ(SummaryTable({c.outcome}), header + c.lines);
  // A key that carries a bound comes last, its score written as the bound.
  RowOutcome bounded = Outcome("XOR8", Kind::kDone, std::nullopt);
  auto summary = std::make_shared<RowSummary>(*bounded.summary);
  summary->Add(3, 0, 9, "nine long", -4.f);
  (*summary)[7].SetBound(4.5);
  bounded.summary = summary;
  EXPECT_EQ(SummaryTable({bounded}), header + "XOR8\t3\t0\t1\t9\t9\tnine long\n" + "XOR8\t" + key1 +
                                         "XOR8\t7\t<4.51\t1\t16\t16\tplain words here\n");
}

}  // namespace
}  // namespace veskor
