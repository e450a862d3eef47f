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
    const std::string algorithm = EscapeForTerminal(Cp1251ToUtf8(outcome.search->algorithm.Name));
    for (int key : summary.ShownKeys(outcome.search->algorithm.Unkeyed(), outcome.key)) {
      const KeySummary& strings = summary[key];
      char counts[96];
      std::snprintf(counts, sizeof counts, "\t%d\t%s\t%llu\t%llu\t%llu\t", key,
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
