// The required byte sets of a syntax tree, computed children first, and their last occurrences.
#include "engine/regexp/required_bytes.h"

#include <algorithm>

namespace veskor::regexp {
namespace {

// The set among `sets` with the fewest bytes.
const ByteSet& Narrowest(const std::vector<ByteSet>& sets) {
  return *std::min_element(sets.begin(), sets.end(), [](const ByteSet& a, const ByteSet& b) {
    return a.count() < b.count();
  });
}

}  // namespace

RequiredBytes::RequiredBytes(const SyntaxTree& tree) {
  for (const Node& node : tree.nodes) {
    if (IsTooDeepLoop(node)) return;
  }
  // required[n] lists sets that every match of node n consumes a byte of.
  std::vector<std::vector<ByteSet>> required(tree.nodes.size());
  for (int n : ChildrenFirst(tree, [](const Node&) { return false; })) {
    const Node& node = tree.nodes[n];
    auto child = [&](size_t i) -> const std::vector<ByteSet>& {
      static const std::vector<ByteSet> kNone;
      const int c = ChildAt(tree, node, i);
      return c >= 0 ? required[c] : kNone;
    };
    std::vector<ByteSet>& out = required[n];
    switch (node.kind) {
      case NodeKind::kEmpty:
      case NodeKind::kAssertion:
      case NodeKind::kBackReference:
        break;
      case NodeKind::kByteSet:
        out.push_back(node.set);
        break;
      case NodeKind::kGroup:
        out = child(0);
        break;
      case NodeKind::kConcat:
        for (size_t i = 0; i < node.children.size(); ++i) {
          out.insert(out.end(), child(i).begin(), child(i).end());
        }
        break;
      case NodeKind::kAlternation: {
        // One byte of the union of a set from each alternative.
        ByteSet any;
        bool every = !node.children.empty();
        for (size_t i = 0; i < node.children.size() && every; ++i) {
          every = !child(i).empty();
          if (every) any |= Narrowest(child(i));
        }
        if (every) out.push_back(any);
        break;
      }
      case NodeKind::kRepeat:
        if (node.min >= 1 && node.min <= node.max) out = child(0);
        break;
    }
  }
  if (tree.root >= 0 && static_cast<size_t>(tree.root) < required.size()) {
    Keep(required[tree.root]);
  }
}

// Keeps the narrowest kMaxSets of `sets`, leaving out the full set and repeats.
void RequiredBytes::Keep(const std::vector<ByteSet>& sets) {
  for (const ByteSet& set : sets) {
    if (set.all() || std::find(sets_.begin(), sets_.end(), set) != sets_.end()) continue;
    sets_.push_back(set);
  }
  std::stable_sort(sets_.begin(), sets_.end(),
                   [](const ByteSet& a, const ByteSet& b) { return a.count() < b.count(); });
  if (sets_.size() > kMaxSets) sets_.resize(kMaxSets);
  for (const ByteSet& set : sets_) scanners_.emplace_back(set);
}

int64_t RequiredBytes::LastStart(std::string_view text, Poller& poller) const {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  int64_t last = static_cast<int64_t>(text.size());
  for (const ByteScanner& scanner : scanners_) {
    const int64_t at = scanner.Last(bytes, static_cast<int64_t>(text.size()), poller);
    if (at < 0) return -1;
    last = std::min(last, at);
  }
  return last;
}

}  // namespace veskor::regexp
