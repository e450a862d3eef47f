// The syntax tree of a preset's regular expression: what the parser builds and the executors
// compile. Modifiers are resolved while parsing: case folding is already in the byte sets, and
// every node carries the modifiers that affect how it matches.
#pragma once

#include <bitset>
#include <cstddef>
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

enum class AssertionKind : uint8_t {
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

// A repetition of a loop nested deeper than kMaxLoopDepth: reaching it raises the loop error.
inline bool IsTooDeepLoop(const Node& node) {
  return node.kind == NodeKind::kRepeat && node.is_loop && node.loop_depth > kMaxLoopDepth;
}

// The index of child `i` of `node`, or -1 when the node has no such child in the tree.
inline int ChildAt(const SyntaxTree& tree, const Node& node, size_t i) {
  if (i >= node.children.size()) return -1;
  const int child = node.children[i];
  return child >= 0 && static_cast<size_t>(child) < tree.nodes.size() ? child : -1;
}

// The nodes reachable from the root, each once and after all of its children, so that a pass
// in this order finds every child done before its parent. The children of a node for which
// `prune(node)` is true are not visited (unless another parent reaches them).
template <typename Prune>
std::vector<int> ChildrenFirst(const SyntaxTree& tree, Prune prune) {
  std::vector<int> order;
  if (tree.root < 0 || static_cast<size_t>(tree.root) >= tree.nodes.size()) return order;
  std::vector<uint8_t> state(tree.nodes.size(), 0);  // 0 unseen, 1 children pending, 2 listed
  std::vector<int> stack{tree.root};
  while (!stack.empty()) {
    const int n = stack.back();
    const Node& node = tree.nodes[n];
    if (state[n] == 0) {
      state[n] = 1;
      if (prune(node)) continue;
      for (size_t i = node.children.size(); i-- > 0;) {
        const int child = ChildAt(tree, node, i);
        if (child >= 0 && state[child] == 0) stack.push_back(child);
      }
      continue;
    }
    stack.pop_back();
    if (state[n] == 2) continue;
    state[n] = 2;
    order.push_back(n);
  }
  return order;
}

}  // namespace veskor::regexp
