// The --summary table.
#include "cli/summary_table.h"

#include <cstdio>

#include "cli/terminal_text.h"
#include "engine/score/key_summary.h"
#include "text/cp1251.h"

namespace veskor {

std::string SummaryTable(const std::vector<RowOutcome>& outcomes) {
  std::string table = "algo\tkey\tscore\tlines\tchars\tlongest\tbest\n";
  for (const RowOutcome& outcome : outcomes) {
    if (!outcome.summary || !outcome.search || outcome.kind == RowOutcome::Kind::kInputFailed) {
      continue;
    }
    const RowSummary& summary = *outcome.summary;
    const RunSearch& search = *outcome.search;
    const bool unkeyed = !search.any && search.algorithm.Unkeyed();
    for (int key : summary.ShownKeys(unkeyed, outcome.key)) {
      const KeySummary& strings = summary[key];
      // An ANY row lists pairs: each with its own algorithm.
      const std::string algorithm =
          EscapeForTerminal(Cp1251ToUtf8(PairSearch(search, key).algorithm.Name));
      char counts[96];
      std::snprintf(counts, sizeof counts, "\t%d\t%s\t%llu\t%llu\t%llu\t", PairKeyOf(search, key),
                    ScoreText(strings.Score()).c_str(),
                    static_cast<unsigned long long>(strings.Count()),
                    static_cast<unsigned long long>(strings.TotalLength()),
                    static_cast<unsigned long long>(strings.Longest()));
      table += algorithm + counts + SummaryText(strings.BestText(), KeySummary::kTextBytes) + "\n";
    }
  }
  return table;
}

}  // namespace veskor
