// Tests of the automaton executor: hand-built trees against expected answers, against a
// set-based reference on generated trees, and against patterns that would blow up a search.
#include "engine/regexp/pike_vm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/regexp/parser.h"
#include "engine/regexp/regexp_error.h"

namespace veskor::regexp {
namespace {

using A = AssertionKind;

// Builds syntax trees by hand, the way the parser lays them out.
class TreeBuilder {
 public:
  int Set(std::string_view members) {
    ByteSet set;
    for (char c : members) set.set(static_cast<unsigned char>(c));
    return AddSet(set);
  }
  int Range(unsigned char low, unsigned char high) {
    ByteSet set;
    for (int b = low; b <= high; ++b) set.set(b);
    return AddSet(set);
  }
  int Digit() { return Range('0', '9'); }
  int Any() { return AddSet(ByteSet().set()); }
  int Lower() { return Range('a', 'z'); }
  int Lit(std::string_view text) {
    std::vector<int> parts;
    for (char c : text) parts.push_back(Set(std::string_view(&c, 1)));
    return parts.size() == 1 ? parts[0] : Cat(parts);
  }
  int At(AssertionKind kind) {
    Node node;
    node.kind = NodeKind::kAssertion;
    node.assertion = kind;
    return Add(node);
  }
  int Empty() { return Add(Node{}); }
  int Grp(int child) {
    Node node;
    node.kind = NodeKind::kGroup;
    node.children = {child};
    node.group = ++groups_;
    return Add(node);
  }
  int Cat(std::vector<int> children) { return Many(NodeKind::kConcat, std::move(children)); }
  int Alt(std::vector<int> children) { return Many(NodeKind::kAlternation, std::move(children)); }
  int Rep(int child, uint32_t min, uint32_t max, int loop_depth = 0) {
    Node node;
    node.kind = NodeKind::kRepeat;
    node.children = {child};
    node.min = min;
    node.max = max;
    node.is_loop = loop_depth > 0;
    node.loop_depth = loop_depth;
    return Add(node);
  }
  int Star(int child) { return Rep(child, 0, kInfinite); }
  int Plus(int child) { return Rep(child, 1, kInfinite); }
  int Opt(int child) { return Rep(child, 0, 1); }
  int BackRef(int group) {
    Node node;
    node.kind = NodeKind::kBackReference;
    node.group = group;
    return Add(node);
  }

  SyntaxTree Build(int root) {
    tree_.root = root;
    tree_.group_count = groups_;
    for (const Node& node : tree_.nodes) {
      if (node.kind == NodeKind::kBackReference) tree_.has_back_references = true;
      tree_.max_loop_depth = std::max(tree_.max_loop_depth, node.loop_depth);
    }
    return tree_;
  }

 private:
  int Add(const Node& node) {
    tree_.nodes.push_back(node);
    return static_cast<int>(tree_.nodes.size() - 1);
  }
  int AddSet(const ByteSet& set) {
    Node node;
    node.kind = NodeKind::kByteSet;
    node.set = set;
    return Add(node);
  }
  int Many(NodeKind kind, std::vector<int> children) {
    Node node;
    node.kind = kind;
    node.children = std::move(children);
    return Add(node);
  }

  SyntaxTree tree_;
  int groups_ = 0;
};

using Make = std::function<int(TreeBuilder&)>;

SyntaxTree BuildTree(const Make& make) {
  TreeBuilder builder;
  const int root = make(builder);
  return builder.Build(root);
}

// The same tree with every repetition made lazy.
SyntaxTree Lazy(SyntaxTree tree) {
  for (Node& node : tree.nodes) node.greedy = false;
  return tree;
}

// A slow, independent answer: the set of end positions reachable from a set of start
// positions, node by node. Only fit for small repetition bounds.
using Positions = std::vector<char>;

bool WordAt(std::string_view text, size_t pos) {
  if (pos >= text.size()) return false;
  static const std::string_view kWord =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
  return kWord.find(text[pos]) != std::string_view::npos;
}

bool Holds(AssertionKind kind, std::string_view text, size_t pos) {
  const size_t n = text.size();
  const bool crlf_inside = pos > 0 && pos < n && text[pos - 1] == '\r' && text[pos] == '\n';
  switch (kind) {
    case A::kTextStart:
      return pos == 0;
    case A::kTextEnd:
      return pos == n;
    case A::kLineStart:
      return pos == 0 || (!crlf_inside && (text[pos - 1] == '\r' || text[pos - 1] == '\n'));
    case A::kLineEnd:
      return pos == n || (!crlf_inside && (text[pos] == '\r' || text[pos] == '\n'));
    case A::kWordBoundary:
      return (pos > 0 && WordAt(text, pos - 1)) != WordAt(text, pos);
    case A::kNotWordBoundary:
      return (pos > 0 && WordAt(text, pos - 1)) == WordAt(text, pos);
  }
  return false;
}

bool Any(const Positions& positions) {
  return std::find(positions.begin(), positions.end(), 1) != positions.end();
}

Positions Apply(const SyntaxTree& tree, int index, const Positions& from, std::string_view text) {
  const Node& node = tree.nodes[index];
  Positions to(from.size(), 0);
  switch (node.kind) {
    case NodeKind::kEmpty:
      return from;
    case NodeKind::kByteSet:
      for (size_t p = 0; p < text.size(); ++p) {
        if (from[p] && node.set[static_cast<unsigned char>(text[p])]) to[p + 1] = 1;
      }
      return to;
    case NodeKind::kAssertion:
      for (size_t p = 0; p < from.size(); ++p) to[p] = from[p] && Holds(node.assertion, text, p);
      return to;
    case NodeKind::kGroup:
      return Apply(tree, node.children[0], from, text);
    case NodeKind::kConcat: {
      Positions at = from;
      for (int child : node.children) at = Apply(tree, child, at, text);
      return at;
    }
    case NodeKind::kAlternation:
      for (int child : node.children) {
        const Positions ends = Apply(tree, child, from, text);
        for (size_t p = 0; p < to.size(); ++p) to[p] |= ends[p];
      }
      return to;
    case NodeKind::kRepeat: {
      Positions at = from;
      for (uint32_t i = 0; i < node.min && Any(at); ++i)
        at = Apply(tree, node.children[0], at, text);
      to = at;
      for (uint32_t i = node.min; i != node.max; ++i) {
        Positions ends = Apply(tree, node.children[0], at, text);
        bool grew = false;
        for (size_t p = 0; p < to.size(); ++p) {
          if (ends[p] && !to[p]) grew = true;
          to[p] |= ends[p];
        }
        // Unbounded: once nothing new is reached, more rounds reach nothing new either.
        if (node.max == kInfinite && !grew) break;
        at = node.max == kInfinite ? to : ends;
        if (!Any(at)) break;
      }
      return to;
    }
    case NodeKind::kBackReference:
      break;
  }
  return to;
}

bool ReferenceAnswer(const SyntaxTree& tree, std::string_view text) {
  const Positions all(text.size() + 1, 1);
  return Any(Apply(tree, tree.root, all, text));
}

struct Row {
  const char* what;
  Make make;
  std::string text;
  bool expected;
};

void CheckRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    const SyntaxTree tree = BuildTree(row.make);
    ASSERT_TRUE(PikeVm::Supports(tree)) << row.what;
    EXPECT_EQ(PikeVm(tree).Search(row.text), row.expected)
        << row.what << " on \"" << row.text << "\"";
    EXPECT_EQ(PikeVm(Lazy(tree)).Search(row.text), row.expected)
        << row.what << " (lazy) on \"" << row.text << "\"";
    if (row.text.size() < 40) {
      EXPECT_EQ(ReferenceAnswer(tree, row.text), row.expected)
          << "reference: " << row.what << " on \"" << row.text << "\"";
    }
  }
}

TEST(PikeVmTest, ByteSetsAlternationsAndGroups) {
  const Make abc = [](TreeBuilder& b) { return b.Lit("abc"); };
  const Make lower = [](TreeBuilder& b) { return b.Lower(); };
  const Make alt = [](TreeBuilder& b) { return b.Alt({b.Lit("abc"), b.Lit("xyz")}); };
  const Make pairs = [](TreeBuilder& b) {
    return b.Cat({b.Grp(b.Alt({b.Lit("a"), b.Lit("b")})), b.Grp(b.Alt({b.Lit("c"), b.Lit("d")}))});
  };
  // ((a(b|c))d)
  const Make nested = [](TreeBuilder& b) {
    return b.Grp(
        b.Cat({b.Grp(b.Cat({b.Lit("a"), b.Grp(b.Alt({b.Lit("b"), b.Lit("c")}))})), b.Lit("d")}));
  };
  const Make empty_alt = [](TreeBuilder& b) {
    return b.Cat({b.Lit("x"), b.Alt({b.Lit("y"), b.Empty()}), b.Lit("z")});
  };
  const Make case_folded = [](TreeBuilder& b) {
    return b.Cat({b.Set("pP"), b.Set("aA"), b.Set("sS"), b.Set("sS")});
  };
  const Make capital_word = [](TreeBuilder& b) {
    return b.Cat({b.Range('A', 'Z'), b.Plus(b.Lower())});
  };
  const Make zero_byte = [](TreeBuilder& b) { return b.Lit(std::string_view("\0b", 2)); };
  CheckRows({
      {"abc", abc, "xxabcxx", true},
      {"abc", abc, "xxabxcx", false},
      {"abc", abc, "ab", false},
      {"[a-z]", lower, "ABC", false},
      {"[a-z]", lower, "ABcD", true},
      {"[a-z]", lower, "", false},
      {"abc|xyz", alt, "..xyz", true},
      {"abc|xyz", alt, "xyab", false},
      {"(a|b)(c|d)", pairs, "zbd", true},
      {"(a|b)(c|d)", pairs, "ba", false},
      {"((a(b|c))d)", nested, "xacd", true},
      {"((a(b|c))d)", nested, "abxd", false},
      {"x(y|)z", empty_alt, "xz", true},
      {"x(y|)z", empty_alt, "xyyz", false},
      {"(?i)pass", case_folded, "my PaSs!", true},
      {"(?i)pass", case_folded, "pas pas", false},
      {"[A-Z][a-z]+", capital_word, "abc Hello", true},
      {"[A-Z][a-z]+", capital_word, "abc HELLO", false},
      {"\\x00b", zero_byte, std::string("a\0b", 3), true},
      {"\\x00b", zero_byte, "ab", false},
  });
}

TEST(PikeVmTest, Assertions) {
  const auto seq = [](std::vector<std::function<int(TreeBuilder&)>> parts) {
    return Make([parts](TreeBuilder& b) {
      std::vector<int> children;
      for (const auto& part : parts) children.push_back(part(b));
      return b.Cat(children);
    });
  };
  const auto lit = [](std::string text) {
    return Make([text](TreeBuilder& b) { return b.Lit(text); });
  };
  const auto at = [](AssertionKind kind) {
    return Make([kind](TreeBuilder& b) { return b.At(kind); });
  };
  const Make start_abc = seq({at(A::kTextStart), lit("abc")});
  const Make abc_end = seq({lit("abc"), at(A::kTextEnd)});
  const Make whole_abc = seq({at(A::kTextStart), lit("abc"), at(A::kTextEnd)});
  const Make line_abc_end = seq({lit("abc"), at(A::kLineEnd)});
  const Make line_start_b = seq({at(A::kLineStart), lit("b")});
  const Make cr_start_lf = seq({lit("\r"), at(A::kLineStart), lit("\n")});
  const Make cr_end_lf = seq({lit("\r"), at(A::kLineEnd), lit("\n")});
  const Make lf_line_start = seq({lit("\n"), at(A::kLineStart)});
  const Make cr_line_start = seq({lit("\r"), at(A::kLineStart)});
  const Make lf_text_end = seq({lit("\n"), at(A::kTextEnd)});
  const Make line_end_lf = seq({at(A::kLineEnd), lit("\n")});
  const Make empty_lines = seq({at(A::kLineStart), at(A::kLineEnd)});
  const Make text_end = at(A::kTextEnd);
  const Make word_foo = seq({at(A::kWordBoundary), lit("foo"), at(A::kWordBoundary)});
  const Make a_nb_b = seq({lit("a"), at(A::kNotWordBoundary), lit("b")});
  const Make boundary = at(A::kWordBoundary);
  const Make not_boundary = at(A::kNotWordBoundary);
  const Make skip_then_assert = [](TreeBuilder& b) {
    return b.Cat({b.Opt(b.Lit("x")), b.At(A::kNotWordBoundary), b.Lit("y")});
  };
  CheckRows({
      {"^abc", start_abc, "abcd", true},
      {"^abc", start_abc, "xabc", false},
      {"abc$", abc_end, "xabc", true},
      {"abc$", abc_end, "abc\n", false},
      {"^abc$", whole_abc, "abc", true},
      {"^abc$", whole_abc, "abcabc", false},
      {"(?m)abc$", line_abc_end, "abc\n", true},
      {"(?m)abc$", line_abc_end, "abc\r\nx", true},
      {"(?m)abc$", line_abc_end, "abc\rx", true},
      {"(?m)abc$", line_abc_end, "abcx\n", false},
      {"(?m)^b", line_start_b, "a\nb", true},
      {"(?m)^b", line_start_b, "a\rb", true},
      {"(?m)^b", line_start_b, "a\r\nb", true},
      {"(?m)^b", line_start_b, "ab", false},
      {"(?m)\\r^\\n", cr_start_lf, "\r\n", false},
      {"(?m)\\r$\\n", cr_end_lf, "x\r\n", false},
      {"(?m)\\n^ at the end", lf_line_start, "a\n", true},
      {"(?m)\\r^ at the end", cr_line_start, "a\r", true},
      {"(?m)\\r^ before LF", cr_line_start, "a\r\n", false},
      {"\\n\\Z", lf_text_end, "a\n", true},
      {"\\n\\Z", lf_text_end, "a\nb", false},
      {"(?m)$\\n", line_end_lf, "a\n", true},
      {"(?m)$\\n after CR", line_end_lf, "a\r\n", false},
      {"(?m)^$", empty_lines, "", true},
      {"(?m)^$", empty_lines, "ab\n\ncd", true},
      {"(?m)^$ at the end after LF", empty_lines, "ab\n", true},
      {"(?m)^$", empty_lines, "ab\r\ncd", false},
      {"$", text_end, "abc", true},
      {"\\bfoo\\b", word_foo, "a foo b", true},
      {"\\bfoo\\b", word_foo, "foo", true},
      {"\\bfoo\\b", word_foo, "afoo", false},
      {"\\bfoo\\b", word_foo, "foo_", false},
      {"\\bfoo\\b", word_foo, "foo\xE9", true},
      {"a\\Bb", a_nb_b, "ab", true},
      {"a\\Bb", a_nb_b, "a-b", false},
      {"\\b", boundary, "", false},
      {"\\b", boundary, " -\xC0", false},
      {"\\b", boundary, "  z", true},
      {"\\B", not_boundary, "", true},
      {"\\B", not_boundary, "z", false},
      {"\\B", not_boundary, "zz", true},
      // The skip past bytes no match can start with must not keep what the last step saw.
      {"x?\\By", skip_then_assert, "x-qy", true},
      {"x?\\By", skip_then_assert, "x-q-y", false},
  });
}

TEST(PikeVmTest, CountedRepetitions) {
  const Make a3 = [](TreeBuilder& b) { return b.Rep(b.Lit("a"), 3, 3); };
  const Make whole_a3 = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Rep(b.Lit("a"), 3, 3), b.At(A::kTextEnd)});
  };
  const Make digits7 = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Rep(b.Digit(), 7, kInfinite), b.At(A::kTextEnd)});
  };
  const Make word2to5 = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Rep(b.Lower(), 2, 5), b.At(A::kTextEnd)});
  };
  const Make any3 = [](TreeBuilder& b) {
    return b.Cat({b.Lit("<"), b.Rep(b.Any(), 3, 3), b.Lit(">")});
  };
  const Make a2to3b = [](TreeBuilder& b) { return b.Cat({b.Rep(b.Lit("a"), 2, 3), b.Lit("b")}); };
  const Make anchored_a2to3b = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Rep(b.Lit("a"), 2, 3), b.Lit("b")});
  };
  const Make zero_times = [](TreeBuilder& b) {
    return b.Cat({b.Lit("x"), b.Rep(b.Lit("a"), 0, 0), b.Lit("y")});
  };
  const Make up_to_2 = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Rep(b.Lit("a"), 0, 2), b.At(A::kTextEnd)});
  };
  const Make huge_exact = [](TreeBuilder& b) { return b.Rep(b.Lit("a"), 99999999, 99999999); };
  const Make huge_min = [](TreeBuilder& b) { return b.Rep(b.Lit("a"), 99999999, kInfinite); };
  const Make huge_max = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Rep(b.Lit("a"), 3, 99999999), b.At(A::kTextEnd)});
  };
  // ^(a{2,3}b)+$: a counter inside a loop
  const Make counter_in_loop = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Plus(b.Grp(b.Cat({b.Rep(b.Lit("a"), 2, 3), b.Lit("b")}))),
                  b.At(A::kTextEnd)});
  };
  // ^a{2,3}a{2}$: two counters over the same byte, one after the other
  const Make two_counters = [](TreeBuilder& b) {
    return b.Cat(
        {b.At(A::kTextStart), b.Rep(b.Lit("a"), 2, 3), b.Rep(b.Lit("a"), 2, 2), b.At(A::kTextEnd)});
  };
  const Make digits_then_low = [](TreeBuilder& b) {
    return b.Cat({b.Rep(b.Digit(), 2, 3), b.Rep(b.Range('0', '5'), 2, 2), b.At(A::kTextEnd)});
  };
  // ^(ab){2,3}$ and (a|b){3}: repetitions of more than one byte set are expanded
  const Make ab2to3 = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Rep(b.Grp(b.Lit("ab")), 2, 3, 1), b.At(A::kTextEnd)});
  };
  const Make ab2up = [](TreeBuilder& b) {
    return b.Cat({b.Lit("<"), b.Rep(b.Grp(b.Lit("ab")), 2, kInfinite, 1), b.Lit(">")});
  };
  const Make either3 = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Rep(b.Grp(b.Alt({b.Lit("a"), b.Lit("b")})), 3, 3, 1),
                  b.At(A::kTextEnd)});
  };
  const Make group_of_set = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Rep(b.Grp(b.Digit()), 4, 6, 1), b.At(A::kTextEnd)});
  };
  const Make choice_of_counters = [](TreeBuilder& b) {
    return b.Cat({b.At(A::kTextStart), b.Alt({b.Rep(b.Lit("a"), 2, 2), b.Rep(b.Lit("b"), 3, 3)}),
                  b.At(A::kTextEnd)});
  };
  const std::string thousand_a(1000, 'a');
  CheckRows({
      {"a{3}", a3, "baab", false},
      {"a{3}", a3, "baaab", true},
      {"^a{3}$", whole_a3, "aaaa", false},
      {"^a{3}$", whole_a3, "aaa", true},
      {"^\\d{7,}$", digits7, "123456", false},
      {"^\\d{7,}$", digits7, "1234567", true},
      {"^\\d{7,}$", digits7, "123456789012", true},
      {"^\\d{7,}$", digits7, "1234a5678", false},
      {"^[a-z]{2,5}$", word2to5, "a", false},
      {"^[a-z]{2,5}$", word2to5, "ab", true},
      {"^[a-z]{2,5}$", word2to5, "abcde", true},
      {"^[a-z]{2,5}$", word2to5, "abcdef", false},
      {"<.{3}>", any3, "x<\r\n>>y", true},
      {"<.{3}>", any3, "<ab>", false},
      {"a{2,3}b", a2to3b, "aaaaab", true},
      {"a{2,3}b", a2to3b, "abab", false},
      {"^a{2,3}b", anchored_a2to3b, "aaaab", false},
      {"^a{2,3}b", anchored_a2to3b, "aab", true},
      {"xa{0}y", zero_times, "xy", true},
      {"xa{0}y", zero_times, "xay", false},
      {"^a{0,2}$", up_to_2, "", true},
      {"^a{0,2}$", up_to_2, "aa", true},
      {"^a{0,2}$", up_to_2, "aaa", false},
      {"a{99999999}", huge_exact, thousand_a, false},
      {"a{99999999,}", huge_min, thousand_a, false},
      {"^a{3,99999999}$", huge_max, thousand_a, true},
      {"^a{3,99999999}$", huge_max, "aa", false},
      {"^(a{2,3}b)+$", counter_in_loop, "aabaaab", true},
      {"^(a{2,3}b)+$", counter_in_loop, "aab", true},
      {"^(a{2,3}b)+$", counter_in_loop, "abaab", false},
      {"^(a{2,3}b)+$", counter_in_loop, "aaaab", false},
      {"^a{2,3}a{2}$", two_counters, "aaa", false},
      {"^a{2,3}a{2}$", two_counters, "aaaa", true},
      {"^a{2,3}a{2}$", two_counters, "aaaaa", true},
      {"^a{2,3}a{2}$", two_counters, "aaaaaa", false},
      {"\\d{2,3}[0-5]{2}$", digits_then_low, "x12345", true},
      {"\\d{2,3}[0-5]{2}$", digits_then_low, "1299", false},
      {"\\d{2,3}[0-5]{2}$", digits_then_low, "12a345", false},
      {"^(ab){2,3}$", ab2to3, "ab", false},
      {"^(ab){2,3}$", ab2to3, "abab", true},
      {"^(ab){2,3}$", ab2to3, "ababab", true},
      {"^(ab){2,3}$", ab2to3, "abababab", false},
      {"<(ab){2,}>", ab2up, "<ababab>", true},
      {"<(ab){2,}>", ab2up, "<ab>", false},
      {"^(a|b){3}$", either3, "bab", true},
      {"^(a|b){3}$", either3, "baba", false},
      {"^(\\d){4,6}$", group_of_set, "1234", true},
      {"^(\\d){4,6}$", group_of_set, "1234567", false},
      {"^(a{2}|b{3})$", choice_of_counters, "bbb", true},
      {"^(a{2}|b{3})$", choice_of_counters, "aaa", false},
  });
}

TEST(PikeVmTest, LongTextsThroughCounters) {
  // Counters must be exact far from the start of the text, where entries are dropped and
  // the queue is compacted.
  std::string digits(100000, '7');
  TreeBuilder b;
  const SyntaxTree tree =
      b.Build(b.Cat({b.At(A::kTextStart), b.Rep(b.Digit(), 7, kInfinite), b.At(A::kTextEnd)}));
  const PikeVm all_digits(tree);
  EXPECT_TRUE(all_digits.Search(digits));
  digits[60000] = 'x';
  EXPECT_FALSE(all_digits.Search(digits));

  TreeBuilder c;
  // x[a-z]{50000,60000}y
  const PikeVm window(c.Build(c.Cat({c.Lit("x"), c.Rep(c.Lower(), 50000, 60000), c.Lit("y")})));
  const std::string inside = "x" + std::string(55000, 'q') + "y";
  const std::string too_short = "x" + std::string(49999, 'q') + "y";
  const std::string too_long = "x" + std::string(60001, 'q') + "y";
  const std::string restarted = "x" + std::string(70000, 'q') + "x" + std::string(50000, 'q') + "y";
  EXPECT_TRUE(window.Search(inside));
  EXPECT_FALSE(window.Search(too_short));
  EXPECT_FALSE(window.Search(too_long));
  EXPECT_TRUE(window.Search(restarted));
}

TEST(PikeVmTest, SupportsRefusesWhatOnlyTheBacktrackerCanAnswer) {
  const auto nested_loops = [](int depth) {
    TreeBuilder b;
    int node = b.Lit("a");
    for (int level = depth; level >= 1; --level) node = b.Rep(b.Grp(node), 1, 2, level);
    return b.Build(node);
  };
  const auto repeated_pair = [](uint32_t min, uint32_t max) {
    TreeBuilder b;
    return b.Build(b.Rep(b.Grp(b.Lit("ab")), min, max, 1));
  };
  struct Case {
    const char* what;
    SyntaxTree tree;
    bool supported;
  };
  const auto backref = [] {
    TreeBuilder b;
    return b.Build(b.Cat({b.Grp(b.Lit("a")), b.BackRef(1)}));
  }();
  // (ab){n} takes 2n instructions and the match one more.
  const std::vector<Case> cases = {
      {"(a)\\1", backref, false},
      {"ten nested loops", nested_loops(10), true},
      {"eleven nested loops", nested_loops(11), false},
      {"(ab){9999}", repeated_pair(9999, 9999), true},
      {"(ab){10000}", repeated_pair(10000, 10000), false},
      {"(ab){0,6666}", repeated_pair(0, 6666), true},
      {"(ab){0,6667}", repeated_pair(0, 6667), false},
      {"(ab){99999999,}", repeated_pair(99999999, kInfinite), false},
      {"a{99999999}",
       BuildTree([](TreeBuilder& b) { return b.Rep(b.Lit("a"), 99999999, 99999999); }), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PikeVm::Supports(c.tree), c.supported) << c.what;
    if (!c.supported) {
      EXPECT_THROW(PikeVm{c.tree}, ERegExp) << c.what;
    }
  }
  EXPECT_TRUE(PikeVm(nested_loops(10)).Search("xaay"));
  // ^(ab){9999} fills the program to the cap exactly; anchored, it runs one thread at a time.
  TreeBuilder b;
  const SyntaxTree anchored_pairs =
      b.Build(b.Cat({b.At(A::kTextStart), b.Rep(b.Grp(b.Lit("ab")), 9999, 9999, 1)}));
  ASSERT_TRUE(PikeVm::Supports(anchored_pairs));
  std::string pairs;
  for (int i = 0; i < 9999; ++i) pairs += "ab";
  const PikeVm longest(anchored_pairs);
  EXPECT_TRUE(longest.Search(pairs + "x"));
  EXPECT_FALSE(longest.Search(pairs.substr(0, pairs.size() - 1)));
  EXPECT_FALSE(longest.Search("x" + pairs));
}

TEST(PikeVmTest, PatternsThatExplodeABacktrackerAnswerAtOnce) {
  const std::string many_a(200000, 'a');
  // (a+)+b
  TreeBuilder b1;
  const PikeVm nested_plus(b1.Build(b1.Cat({b1.Plus(b1.Grp(b1.Plus(b1.Lit("a")))), b1.Lit("b")})));
  // (a|aa)*c
  TreeBuilder b2;
  const PikeVm star_of_choice(
      b2.Build(b2.Cat({b2.Star(b2.Grp(b2.Alt({b2.Lit("a"), b2.Lit("aa")}))), b2.Lit("c")})));
  // ^(a{1,3}){2,}$x: counters inside an expanded loop
  TreeBuilder b3;
  const PikeVm loop_of_counters(
      b3.Build(b3.Cat({b3.Rep(b3.Grp(b3.Rep(b3.Lit("a"), 1, 3)), 2, kInfinite, 1),
                       b3.At(A::kTextEnd), b3.Lit("x")})));
  // The work of each search as the executor counts it for its poller: a bounded number of
  // steps per byte, where a backtracker's grows without bound.
  constexpr int64_t kMostWorkPerByte = 16;
  int64_t polls = 0;
  const auto hook = [&] { ++polls; };
  auto search = [&](const PikeVm& vm, const std::string& text) {
    polls = 0;
    Poller poller(nullptr, hook);
    const bool found = vm.Search(text, poller);
    EXPECT_LE(polls * Poller::kInterval, kMostWorkPerByte * static_cast<int64_t>(text.size()));
    return found;
  };
  EXPECT_FALSE(search(nested_plus, many_a));
  EXPECT_TRUE(search(nested_plus, many_a + "b"));
  EXPECT_FALSE(search(star_of_choice, many_a));
  EXPECT_TRUE(search(star_of_choice, many_a + "c"));
  EXPECT_FALSE(search(loop_of_counters, many_a));
}

TEST(PikeVmTest, ReusedAcrossTextsProgramsAndThreads) {
  // One thread's scratch serves programs of different sizes in turn.
  TreeBuilder small_builder;
  const PikeVm small(small_builder.Build(small_builder.Rep(small_builder.Lit("z"), 2, 4)));
  TreeBuilder big_builder;
  const PikeVm big(big_builder.Build(
      big_builder.Cat({big_builder.Rep(big_builder.Grp(big_builder.Lit("xy")), 100, 100, 1),
                       big_builder.Lit("!")})));
  std::string xy;
  for (int i = 0; i < 100; ++i) xy += "xy";
  for (int round = 0; round < 3; ++round) {
    EXPECT_TRUE(small.Search("azzb"));
    EXPECT_FALSE(big.Search(xy));
    EXPECT_FALSE(small.Search("azbz"));
    EXPECT_TRUE(big.Search("x" + xy + "!"));
  }

  bool results[2][100];
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        results[t][i] = big.Search(i % 2 ? xy + "!" : xy + "?") && small.Search("zz");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 2; ++t) {
    for (int i = 0; i < 100; ++i) EXPECT_EQ(results[t][i], i % 2 == 1) << t << " " << i;
  }
}

// Random trees over a small alphabet, with every kind of node and small repetition bounds,
// checked against the set-based reference on random texts.
class RandomTrees {
 public:
  explicit RandomTrees(uint32_t seed) : random_(seed) {}

  int Make(TreeBuilder& b, int depth) {
    const int pick = Below(depth <= 0 ? 3 : 8);
    switch (pick) {
      case 0:
      case 1: {
        static const char* const kSets[] = {"a", "b", "ab", "\r", "\n", " ", "a_", "\r\n"};
        return b.Set(kSets[Below(8)]);
      }
      case 2:
        return Below(4) == 0 ? b.Any() : b.At(static_cast<AssertionKind>(Below(6)));
      case 3:
      case 4: {
        std::vector<int> children;
        for (int i = 1 + Below(3); i > 0; --i) children.push_back(Make(b, depth - 1));
        return b.Cat(children);
      }
      case 5: {
        std::vector<int> children;
        for (int i = 2 + Below(2); i > 0; --i) children.push_back(Make(b, depth - 1));
        return b.Alt(children);
      }
      case 6:
        return b.Grp(Make(b, depth - 1));
      default: {
        const uint32_t min = Below(4);
        const uint32_t max = Below(3) == 0 ? kInfinite : min + Below(4);
        const int body = Below(2) ? b.Set(Below(2) ? "a" : "ab") : Make(b, depth - 1);
        return b.Rep(body, min, max, 0);
      }
    }
  }

  std::string Text() {
    static const char kBytes[] = "aab\r\n _";
    std::string text;
    for (int i = Below(12); i > 0; --i) text += kBytes[Below(7)];
    return text;
  }

 private:
  int Below(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
  std::mt19937 random_;
};

TEST(PikeVmTest, AgreesWithTheReferenceOnGeneratedTrees) {
  RandomTrees random(20240607);
  int matched = 0;
  int checked = 0;
  for (int round = 0; round < 20000; ++round) {
    TreeBuilder b;
    const int root = random.Make(b, 4);
    const SyntaxTree tree = b.Build(root);
    ASSERT_TRUE(PikeVm::Supports(tree));
    const PikeVm vm(tree);
    for (int i = 0; i < 12; ++i) {
      const std::string text = random.Text();
      const bool expected = ReferenceAnswer(tree, text);
      ASSERT_EQ(vm.Search(text), expected) << "round " << round << " text \"" << text << "\"";
      matched += expected;
      ++checked;
    }
  }
  // Both answers must be well represented for the comparison to mean anything.
  EXPECT_GT(matched, checked / 10);
  EXPECT_LT(matched, checked * 9 / 10);
}

// Patterns through the parser, as the filter hands them over.
TEST(PikeVmTest, ParsedPatterns) {
  struct Case {
    const char* pattern;
    std::string text;
    bool expected;
  };
  const std::string many_a(100000, 'a');
  const std::vector<Case> cases = {
      {"abc", "xxabcxx", true},
      {"^abc$", "abc", true},
      {"^abc$", "abcd", false},
      {"abc$", "abc\n", false},
      {"(?m)abc$", "abc\n", true},
      {"a.c", "a\rc", true},
      {"(?-s)a.c", "a\rc", false},
      {"ABC", "abc", false},
      {"(?i)ABC", "abc", true},
      {"((?i)a)B", "Ab", false},
      {"\\w+", "\xE0\xFF\xC0", false},
      {"[\\xE0-\\xFF]", "\xB8", true},
      {"(?-r)[\\xE0-\\xFF]", "\xB8", false},
      {"a{,5}", "xa{,5}", true},
      {"a{,5}", "aaaaa", false},
      {"\\x41", "A", true},
      {"\\x{041}", "A", true},
      {"^\\d{7,}$", "1234567", true},
      {"^\\d{7,}$", "123456", false},
      {"(?i)pass", "myPASSword", true},
      {"[A-Z][a-z]+", "HELLO World", true},
      {"[A-Z][a-z]+", "HELLO", false},
      {"\\d{3}-\\d{4}", "call 555-1234 now", true},
      {"\\d{3}-\\d{4}", "call 55-1234 now", false},
      {"(?m)^$", "a\r\n\r\nb", true},
      {"(?m)^$", "a\r\nb", false},
      {"\\bcat\\b", "a cat.", true},
      {"\\bcat\\b", "concat", false},
      {"a+?b", "aaab", true},
      {"(?-g)^a{2,3}b$", "aaab", true},
      {"(?-g)^a{2,3}b$", "aaaab", false},
      {"^(a|b)*?c$", "ababc", true},
      {"(a+)+b", many_a, false},
      {"(a|aa)*c", many_a, false},
      {"(a|aa)*c", many_a + "c", true},
      {"^(\\w+\\s?)*$", many_a + "!", false},
  };
  for (const Case& c : cases) {
    const SyntaxTree tree = Parse(c.pattern);
    ASSERT_TRUE(PikeVm::Supports(tree)) << c.pattern;
    EXPECT_EQ(PikeVm(tree).Search(c.text), c.expected) << c.pattern;
  }
  EXPECT_FALSE(PikeVm::Supports(Parse("(a)\\1")));
  EXPECT_TRUE(PikeVm::Supports(Parse("((((((((((a){2}){2}){2}){2}){2}){2}){2}){2}){2}){2}")));
  EXPECT_FALSE(PikeVm::Supports(Parse("(((((((((((a){2}){2}){2}){2}){2}){2}){2}){2}){2}){2}){2}")));
  EXPECT_FALSE(PikeVm::Supports(Parse("(ab){99999999}")));
  EXPECT_TRUE(PikeVm::Supports(Parse("[ab]{99999999}")));
}

}  // namespace
}  // namespace veskor::regexp
