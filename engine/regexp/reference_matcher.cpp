// Continuation-passing backtracking over the syntax tree.
#include "engine/regexp/reference_matcher.h"

#include <functional>
#include <vector>

#include "engine/regexp/regexp_error.h"
#include "text/cp1251.h"

namespace veskor::regexp {
namespace {

struct Capture {
  long start = -1, end = -1;
};
using Captures = std::vector<Capture>;
using Continuation = std::function<bool(size_t, Captures&)>;

bool IsWord(uint8_t b) {
  return (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || b == '_';
}

class Matcher {
 public:
  Matcher(const SyntaxTree& tree, std::string_view text) : tree_(tree), text_(text) {}

  bool Match(int index, size_t pos, Captures& caps, const Continuation& next) {
    const Node& node = tree_.nodes[index];
    switch (node.kind) {
      case NodeKind::kEmpty:
        return next(pos, caps);
      case NodeKind::kByteSet:
        return pos < text_.size() && node.set[Byte(pos)] && next(pos + 1, caps);
      case NodeKind::kAssertion:
        return Holds(node.assertion, pos) && next(pos, caps);
      case NodeKind::kGroup: {
        const Capture saved = caps[node.group];
        const bool ok = Match(node.children[0], pos, caps, [&](size_t end, Captures& c) {
          const Capture inner = c[node.group];
          c[node.group] = {static_cast<long>(pos), static_cast<long>(end)};
          if (next(end, c)) return true;
          c[node.group] = inner;
          return false;
        });
        if (!ok) caps[node.group] = saved;
        return ok;
      }
      case NodeKind::kConcat:
        return Sequence(node, 0, pos, caps, next);
      case NodeKind::kAlternation:
        for (int child : node.children) {
          if (Match(child, pos, caps, next)) return true;
        }
        return false;
      case NodeKind::kRepeat:
        if (node.is_loop && node.loop_depth > kMaxLoopDepth) throw ExecError(kLoopStackExceeded);
        return Repeat(node, 0, pos, caps, next);
      case NodeKind::kBackReference: {
        if (node.group >= static_cast<int>(caps.size())) return false;
        const Capture c = caps[node.group];
        if (c.start < 0) return false;
        const size_t length = static_cast<size_t>(c.end - c.start);
        if (pos + length > text_.size()) return false;
        for (size_t i = 0; i < length; ++i) {
          const uint8_t a = Byte(static_cast<size_t>(c.start) + i), b = Byte(pos + i);
          if (a != b && !(node.case_insensitive && OtherCase1251(a) == b)) return false;
        }
        return next(pos + length, caps);
      }
    }
    return false;
  }

 private:
  uint8_t Byte(size_t pos) const { return static_cast<uint8_t>(text_[pos]); }

  bool Sequence(const Node& node, size_t i, size_t pos, Captures& caps, const Continuation& next) {
    if (i == node.children.size()) return next(pos, caps);
    return Match(node.children[i], pos, caps,
                 [&](size_t p, Captures& c) { return Sequence(node, i + 1, p, c, next); });
  }

  bool Repeat(const Node& node, uint32_t count, size_t pos, Captures& caps,
              const Continuation& next) {
    auto more = [&] {
      if (count == node.max) return false;
      return Match(node.children[0], pos, caps, [&](size_t p, Captures& c) {
        if (p == pos && count >= node.min) return false;  // an empty iteration adds nothing
        return Repeat(node, count + 1, p, c, next);
      });
    };
    if (count < node.min) return more();
    if (node.greedy) return more() || next(pos, caps);
    return next(pos, caps) || more();
  }

  bool Holds(AssertionKind kind, size_t pos) const {
    const size_t n = text_.size();
    switch (kind) {
      case AssertionKind::kTextStart:
        return pos == 0;
      case AssertionKind::kTextEnd:
        return pos == n;
      case AssertionKind::kLineStart:
        if (pos == 0) return true;
        if (Byte(pos - 1) == '\n') return true;
        return Byte(pos - 1) == '\r' && (pos == n || Byte(pos) != '\n');
      case AssertionKind::kLineEnd:
        if (pos == n) return true;
        if (Byte(pos) == '\r') return true;
        return Byte(pos) == '\n' && (pos == 0 || Byte(pos - 1) != '\r');
      case AssertionKind::kWordBoundary:
      case AssertionKind::kNotWordBoundary: {
        const bool before = pos > 0 && IsWord(Byte(pos - 1));
        const bool after = pos < n && IsWord(Byte(pos));
        return (before != after) == (kind == AssertionKind::kWordBoundary);
      }
    }
    return false;
  }

  const SyntaxTree& tree_;
  std::string_view text_;
};

}  // namespace

bool ReferenceSearch(const SyntaxTree& tree, std::string_view text) {
  Matcher matcher(tree, text);
  for (size_t start = 0; start <= text.size(); ++start) {
    Captures caps(static_cast<size_t>(tree.group_count) + 1);
    if (matcher.Match(tree.root, start, caps, [](size_t, Captures&) { return true; })) return true;
  }
  return false;
}

}  // namespace veskor::regexp
