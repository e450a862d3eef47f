// The YARA rules of a file's rows, through the engine's rule writer.
#include "cli/yara_rules.h"

#include "engine/export/yara_rule.h"
#include "engine/score/key_summary.h"
#include "engine/score/score_band.h"

namespace veskor {

std::vector<FileRule> FileRules(const std::vector<RowOutcome>& outcomes, std::string_view sha256,
                                std::string_view bytes) {
  std::vector<FileRule> rules;
  for (const RowOutcome& outcome : outcomes) {
    if (!outcome.summary || !outcome.search || outcome.kind == RowOutcome::Kind::kInputFailed) {
      continue;
    }
    const RunSearch& search = *outcome.search;
    const bool unkeyed = !search.any && search.algorithm.Unkeyed();
    const std::vector<int> keys = outcome.summary->ShownKeys(unkeyed, outcome.key);
    if (keys.empty()) continue;
    const KeySummary& best = (*outcome.summary)[keys.front()];
    // Only a key that may hide text: below the "maybe" band a key is noise, whose strings a rule
    // would find anywhere.
    if (best.Bounded() || BandOf(best.Score(), RowBands(search.any)) == ScoreBand::kNoise) {
      continue;
    }
    // An ANY row's best is a pair: its own algorithm and key.
    const TAlgorithm algorithm = PairSearch(search, keys.front()).algorithm;
    const int key = PairKeyOf(search, keys.front());
    // The file may shrink under its mapping: the strings' bytes are copied under the guard.
    const std::optional<StoredStrings> stored = CopyStoredStrings(best.Best(), algorithm, bytes);
    if (!stored) continue;
    std::string name = YaraRuleName(sha256, algorithm, key);
    auto text =
        YaraRule({sha256, &algorithm, key, best.Score(), &stored->strings, stored->bytes}, name);
    if (!text) continue;
    rules.push_back({algorithm.Name, key, algorithm.Repeating ? KeyText(algorithm, key) : "",
                     std::move(name), std::move(*text)});
  }
  return rules;
}

void NameApart(std::vector<FileRule>& rules, std::set<std::string>& taken) {
  for (FileRule& rule : rules) {
    std::string name = rule.name;
    for (int n = 2; taken.count(name) != 0; ++n) name = rule.name + "_" + std::to_string(n);
    // The text begins "rule NAME\n".
    if (name != rule.name) rule.text = "rule " + name + rule.text.substr(5 + rule.name.size());
    rule.name = name;
    taken.insert(name);
  }
}

}  // namespace veskor
