// What the Results window hands on: the row's ranking, written as `veskor-scan --summary` writes
// it, and a YARA rule of chosen strings, made as `--yara` makes its rules.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/results/key_strings.h"
#include "ui/results/row_results.h"

class QWidget;

namespace veskor {

// A rule holds at most this many strings: the first ones chosen.
inline constexpr size_t kMaxRuleStrings = 64;

// Why "Copy as YARA rule" made no rule: a key below the "maybe" band is noise, whose strings a
// rule would find in any file; a string that is no evidence, or that the file stores as plain
// text, would match files with nothing hidden.
inline constexpr const char* kNoiseKeyRuleMessage =
    "The key scores below the \u201Cmaybe\u201D band: no YARA rule";
inline constexpr const char* kNoEvidenceRuleMessage =
    "None of the selected strings reads as hidden text: no YARA rule";

// The row's ranking table, byte for byte what `veskor-scan --summary` prints for the same file,
// algorithm, key and preset.
std::string RankingTable(const RowResult& result);

// The suggested file of a ranking: beside the input, "INPUT_ALGO_ranking.tsv".
QString SuggestedRankingPath(const RowResult& result);

// Asks for a file and writes the ranking to it; the note for the window's status, or an empty
// text when the user cancelled or the save failed (its error box was shown).
QString SaveRanking(QWidget* parent, const RowResult& result);

// What a rule was made of: the strings written into it, and the distinct strings that were
// evidence (at most kMaxRuleStrings of them are written).
struct RuleStrings {
  size_t written = 0;
  size_t evidence = 0;
};

// The input's SHA-256 and the stored bytes of strings, read again from the file the run read.
class RuleSource {
 public:
  explicit RuleSource(std::shared_ptr<const RowResult> result) : result_(std::move(result)) {}

  // The rule of `strings` of `key`, named after the file's SHA-256, the key's algorithm and the
  // key; or, in `message`, why there is none. Only a key in the "maybe" band or above has one,
  // made of the strings that are evidence of text: their text scores above the threshold of
  // the key's score (which runs of one byte and short repeats never reach), the file does not
  // store them as plain text, and no earlier one is stored as the same bytes. The first
  // kMaxRuleStrings of those, in their order, are written; `counted` says how many.
  std::optional<std::string> Rule(int key, const std::vector<FoundString>& strings,
                                  QString& message, RuleStrings* counted = nullptr);

 private:
  std::shared_ptr<const RowResult> result_;
  std::string sha256_;  // of the run's input, once hashed
};

}  // namespace veskor
