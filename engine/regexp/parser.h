// The parser of the presets' regular-expression dialect: pattern text to SyntaxTree, with the
// compile errors of the dialect, and the "can match empty" analysis that error 106 rests on.
#pragma once

#include <string_view>

#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

// Parses the pattern (cut at its first zero byte) with the default modifiers: i off, r on, s on,
// g on, m off, x off. Raises ERegExp (CompileError) with the error's text and position.
//
// The nodes are stored children first: every node's index is above those of its children, the
// root is the last node, and a group's node is added at its ')', so its index is above that of
// every node inside it and below that of every node parsed after the group was closed.
SyntaxTree Parse(std::string_view pattern);

// Whether the subtree at `node` can match the empty text: kEmpty and kAssertion can; kByteSet
// cannot; kGroup as its child; kConcat when every child can; kAlternation when any can; kRepeat
// when its min is 0 or its child can; a backreference when its group was closed before it (the
// group's node has a lower index) and that group can.
bool CanMatchEmpty(const SyntaxTree& tree, int node);

}  // namespace veskor::regexp
