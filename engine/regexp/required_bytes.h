// The bytes that every match of an expression consumes, found on its syntax tree, and the check
// of a text against them that answers "no match" in linear time when one is missing.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/regexp/byte_scan.h"
#include "engine/regexp/search_control.h"
#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

class RequiredBytes {
 public:
  // The most byte sets kept: the ones with the fewest bytes.
  static constexpr size_t kMaxSets = 4;

  // Every match consumes (with a byte test, not through a backreference) at least one byte of
  // each of sets(). Nothing is required of a tree with a loop nested too deep: its search must
  // reach the loop to raise the loop error, whatever the text holds.
  explicit RequiredBytes(const SyntaxTree& tree);

  const std::vector<ByteSet>& sets() const { return sets_; }

  // The last start from which a match can still consume a byte of every set: the lowest of
  // their last occurrences in text; text.size() when nothing is required; -1 when the text
  // lacks a set (or the poller stopped the scan), so that no start can match.
  int64_t LastStart(std::string_view text, Poller& poller) const;

 private:
  void Keep(const std::vector<ByteSet>& sets);

  std::vector<ByteSet> sets_;
  std::vector<ByteScanner> scanners_;
};

}  // namespace veskor::regexp
