// The ranking table of --summary and "Save ranking...".
#include "engine/export/summary_table.h"

#include <cstdint>
#include <cstdio>

#include "engine/score/key_summary.h"
#include "text/cp1251.h"

namespace veskor {

void ForEachListedKey(const std::vector<RowOutcome>& outcomes, int top,
                      const std::function<void(const TAlgorithm&, int, const KeySummary&)>& f) {
  for (const RowOutcome& outcome : outcomes) {
    if (!outcome.summary || !outcome.search || outcome.kind == RowOutcome::Kind::kInputFailed) {
      continue;
    }
    const RowSummary& summary = *outcome.summary;
    const RunSearch& search = *outcome.search;
    const bool unkeyed = !search.any && search.algorithm.Unkeyed();
    int listed = 0;
    for (int key : summary.ShownKeys(unkeyed, outcome.key)) {
      if (top > 0 && listed++ == top) break;
      // An ANY row lists pairs: each with its own algorithm.
      f(search.any ? KeyAlgorithmOf(search, key) : search.algorithm, PairKeyOf(search, key),
        summary[key]);
    }
  }
}

std::string SummaryText(std::string_view cp1251, size_t max_bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::string utf8 = Cp1251ToUtf8(cp1251.substr(0, max_bytes));
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    const uint8_t byte = static_cast<uint8_t>(c);
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (byte < 32) {
      out += "\\x";
      out += kDigits[byte >> 4];
      out += kDigits[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string ListedKeyText(const TAlgorithm& algorithm, int key) {
  return algorithm.Repeating ? KeyText(algorithm, key) : std::to_string(key);
}

std::string ListedScoreText(const KeySummary& key) {
  if (!key.Bounded()) return ScoreText(key.Score());
  std::string text(1, '<');
  text += ScoreText(BoundAbove(key.Bound()));
  return text;
}

std::string SummaryTable(const std::vector<RowOutcome>& outcomes) {
  std::string table = "algo\tkey\tscore\tlines\tchars\tlongest\tbest\n";
  ForEachListedKey(
      outcomes, 0, [&](const TAlgorithm& algorithm, int key, const KeySummary& strings) {
        char counts[96];
        std::snprintf(counts, sizeof counts, "\t%s\t%llu\t%llu\t%llu\t",
                      ListedScoreText(strings).c_str(),
                      static_cast<unsigned long long>(strings.Count()),
                      static_cast<unsigned long long>(strings.TotalLength()),
                      static_cast<unsigned long long>(strings.Longest()));
        // The table's names are letters and digits: written as they are.
        table += Cp1251ToUtf8(algorithm.Name) + '\t' + ListedKeyText(algorithm, key) + counts +
                 SummaryText(strings.BestText(), KeySummary::kTextBytes) + "\n";
      });
  return table;
}

}  // namespace veskor
