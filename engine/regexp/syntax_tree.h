// The syntax tree of a preset's regular expression: what the parser builds and the executors
// compile. Modifiers are resolved while parsing: case folding is already in the byte sets, and
// every node carries the modifiers that affect how it matches.
#pragma once

#include <bitset>
#include <cstdint>
#include <limits>
#include <vector>

namespace veskor::regexp {

using ByteSet = std::bitset<256>;

// An unbounded repetition count.
inline constexpr uint32_t kInfinite = std::numeric_limits<uint32_t>::max();

// The nesting limit of loop repetitions while matching: entering an eleventh level raises
// "Loop Stack Exceeded".
inline constexpr int kMaxLoopDepth = 10;

enum class NodeKind {
  kEmpty,          // matches the empty text (an empty alternative, a modifier group, a comment)
  kByteSet,        // one byte that is in `set` (literals, '.', classes, sets; case already folded)
  kAssertion,      // a zero-width test, see AssertionKind
  kGroup,          // a capturing group: `children[0]`, number `group` (1 to 14)
  kConcat,         // `children` one after another
  kAlternation,    // one of `children`, tried left to right
  kRepeat,         // `children[0]` repeated from `min` to `max` times
  kBackReference,  // the text last captured by group `group`
};

enum class AssertionKind {
  kTextStart,  // \A, and ^ without m
  kTextEnd,    // \Z, and $ without m
  kLineStart,  // ^ with m: the start, or just after a line break (not inside CR LF)
  kLineEnd,    // $ with m: the end, or just before a line break (not inside CR LF)
  kWordBoundary,
  kNotWordBoundary,
};

struct Node {
  NodeKind kind = NodeKind::kEmpty;
  std::vector<int> children;                            // indexes into SyntaxTree::nodes
  ByteSet set;                                          // kByteSet
  AssertionKind assertion = AssertionKind::kTextStart;  // kAssertion
  int group = 0;                                        // kGroup, kBackReference
  uint32_t min = 0;                                     // kRepeat
  uint32_t max = 0;                                     // kRepeat; kInfinite for no upper bound
  bool greedy = true;  // kRepeat: false when lazy (a following '?', or g off)
  // kRepeat: a brace form or a lazy repetition applied to a group; such loops nest at most
  // kMaxLoopDepth deep while matching. `loop_depth` counts this loop and the loops around it.
  bool is_loop = false;
  int loop_depth = 0;
  bool case_insensitive = false;  // kBackReference: compared without regard to case (i on)
};

struct SyntaxTree {
  std::vector<Node> nodes;
  int root = 0;
  int group_count = 0;  // capturing groups, at most 14
  bool has_back_references = false;
  int max_loop_depth = 0;  // the deepest loop_depth of any loop
};

}  // namespace veskor::regexp
