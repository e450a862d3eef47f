// A small backtracking matcher written straight from the dialect's rules, recursive and slow:
// the yardstick for the production executors in the tests. Not used by the program.
#pragma once

#include <string_view>

#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

// Searches text (already cut at its first zero byte) for a match of the tree; raises the loop
// error when a loop deeper than kMaxLoopDepth is entered before a match is found.
bool ReferenceSearch(const SyntaxTree& tree, std::string_view text);

}  // namespace veskor::regexp
