// A YARA rule from a key's best strings: the bytes they are stored as in the file, written so
// that the rule finds that file again (and its twins) without the key being searched for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/decoding/algorithms.h"
#include "engine/score/key_summary.h"

namespace veskor {

// What a rule is made of: a key that a row ranked best, and the file it was found in.
struct KeyFinding {
  std::string_view sha256;  // the file's SHA-256 in hex
  const TAlgorithm* algorithm = nullptr;
  int key = 0;
  double score = 0;
  const std::vector<BestString>* strings = nullptr;  // the key's best strings
  std::string_view file;                             // the file's bytes
};

// A rule takes at most this many characters of a string, from its start: longer strings are
// found by their beginning alone.
inline constexpr uint64_t kRuleStringCharacters = KeySummary::kTextBytes;

// A YARA identifier: "veskor_", the SHA-256's first 16 digits, the algorithm's name (other
// characters than ASCII letters and digits as '_') and the key as the row shows it.
std::string YaraRuleName(std::string_view sha256, const TAlgorithm& algorithm, int key);

// The stored bytes of `strings` that a rule reads (at most kRuleStringCharacters characters of
// each, `algorithm`'s width per character), copied out of `mapped`, the file's mapping, under
// the fault guard: one after another, each string moved to where its copy lies, at most `most`
// strings, those that lie outside the file left out. None when a read faulted (the file shrank
// under the mapping).
struct StoredStrings {
  std::string bytes;
  std::vector<BestString> strings;
};
std::optional<StoredStrings> CopyStoredStrings(const std::vector<BestString>& strings,
                                               const TAlgorithm& algorithm, std::string_view mapped,
                                               size_t most = static_cast<size_t>(-1));

// Whether a string's stored bytes already read as text with no key: the file's own plain text
// (a name or words the file holds as they are, which a key only read in another case), which a
// rule would find in every file that holds them.
bool StoredAsPlainText(std::string_view stored);

// The rule `name` of `finding`, ended by LF; none when no string can be written. A string that
// lies outside the file is left out, and so is one written as an earlier one was, and one whose
// stored bytes are plain text (StoredAsPlainText).
std::optional<std::string> YaraRule(const KeyFinding& finding, std::string_view name);

}  // namespace veskor
