// The YARA rules of one file's run: a rule for each row's best key that holds evidence of text.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run/analysis_run.h"

namespace veskor {

struct FileRule {
  std::string algorithm;  // 8-bit
  int key = 0;
  std::string key_text;  // of an XORK key, its bytes ("0x8c61d263"); else empty
  std::string name;
  std::string text;  // the rule, ended by LF
};

// Rows in order, of the rows that scanned (as the key records take them), each best key whose score
// is above the ranking's noise (Score() > 0). `bytes` is the file the rows read, `sha256` its hash.
// Each rule is named by its hash, algorithm and key alone (YaraRuleName).
std::vector<FileRule> FileRules(const std::vector<RowOutcome>& outcomes, std::string_view sha256,
                                std::string_view bytes);

// Renames the rules whose name is in `taken` (rules written before, of two rows with one algorithm
// and key, or of a file given twice) with "_2", "_3", ... so that the rules of a batch compile
// together, and adds the names to it. Called in the batch's order, the names are those of a batch
// scanned one file after another.
void NameApart(std::vector<FileRule>& rules, std::set<std::string>& taken);

}  // namespace veskor
