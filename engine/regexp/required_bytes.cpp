// The required byte sets of a syntax tree, computed children first, and their last occurrences.
#include "engine/regexp/required_bytes.h"

#include <algorithm>
#include <cstring>

namespace veskor::regexp {
namespace {

// Texts are searched backwards in pieces of this many bytes, with the poller counted between.
constexpr size_t kPiece = 16 * Poller::kInterval;

// The set among `sets` with the fewest bytes.
const ByteSet& Narrowest(const std::vector<ByteSet>& sets) {
  return *std::min_element(sets.begin(), sets.end(), [](const ByteSet& a, const ByteSet& b) {
    return a.count() < b.count();
  });
}

}  // namespace

RequiredBytes::RequiredBytes(const SyntaxTree& tree) {
  const auto& nodes = tree.nodes;
  const int count = static_cast<int>(nodes.size());
  if (tree.root < 0 || tree.root >= count) return;
  for (const Node& node : nodes) {
    if (node.kind == NodeKind::kRepeat && node.is_loop && node.loop_depth > kMaxLoopDepth) return;
  }

  // Post-order with an explicit stack: required[n] lists sets that every match of node n
  // consumes a byte of.
  std::vector<std::vector<ByteSet>> required(count);
  std::vector<uint8_t> state(count, 0);  // 0 unseen, 1 children pending, 2 done
  std::vector<int> stack{tree.root};
  auto valid = [&](int n) { return n >= 0 && n < count; };
  while (!stack.empty()) {
    const int n = stack.back();
    const Node& node = nodes[n];
    if (state[n] == 0) {
      state[n] = 1;
      for (int child : node.children) {
        if (valid(child) && state[child] == 0) stack.push_back(child);
      }
      continue;
    }
    stack.pop_back();
    if (state[n] == 2) continue;
    state[n] = 2;
    std::vector<ByteSet>& out = required[n];
    auto child = [&](size_t i) -> const std::vector<ByteSet>& {
      static const std::vector<ByteSet> kNone;
      return i < node.children.size() && valid(node.children[i]) ? required[node.children[i]]
                                                                 : kNone;
    };
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

  std::vector<ByteSet> sets;
  for (const ByteSet& set : required[tree.root]) {
    if (set.all() || std::find(sets.begin(), sets.end(), set) != sets.end()) continue;
    sets.push_back(set);
  }
  std::stable_sort(sets.begin(), sets.end(),
                   [](const ByteSet& a, const ByteSet& b) { return a.count() < b.count(); });
  if (sets.size() > kMaxSets) sets.resize(kMaxSets);
  sets_ = std::move(sets);
  for (const ByteSet& set : sets_) {
    Table table;
    for (int b = 0; b < 256; ++b) {
      if (set[b]) table.words[b >> 6] |= uint64_t{1} << (b & 63);
      if (set[b] && set.count() == 1) table.single = b;
    }
    tables_.push_back(table);
  }
}

int64_t RequiredBytes::LastOf(const Table& table, std::string_view text, Poller& poller) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t end = text.size(); end > 0;) {
    const size_t begin = end > kPiece ? end - kPiece : 0;
    if (table.single >= 0) {
      const void* hit = memrchr(bytes + begin, table.single, end - begin);
      if (hit != nullptr) return static_cast<const uint8_t*>(hit) - bytes;
    } else {
      for (size_t i = end; i > begin; --i) {
        if (table.Has(bytes[i - 1])) return static_cast<int64_t>(i - 1);
      }
    }
    if (poller.Tick(static_cast<int64_t>(end - begin) >> 4)) return -2;
    end = begin;
  }
  return -1;
}

int64_t RequiredBytes::LastStart(std::string_view text, Poller& poller) const {
  int64_t last = static_cast<int64_t>(text.size());
  for (const Table& table : tables_) {
    const int64_t at = LastOf(table, text, poller);
    if (at < 0) return -1;
    last = std::min(last, at);
  }
  return last;
}

}  // namespace veskor::regexp
