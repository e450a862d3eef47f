// The backtracking executor on hand-built syntax trees: backreferences, assertions, counted and
// lazy loops, the loop nesting limit, stops before and during a search, very long texts.
#include "engine/regexp/backtracker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>

#include "engine/regexp/parser.h"
#include "engine/regexp/regexp_error.h"

namespace veskor::regexp {
namespace {

using namespace std::string_literals;
using AK = AssertionKind;

// Builds a syntax tree node by node, the way the parser would lay it out.
class Builder {
 public:
  int Set(std::string_view members) {
    Node n;
    n.kind = NodeKind::kByteSet;
    for (char c : members) n.set.set(static_cast<uint8_t>(c));
    return Add(std::move(n));
  }
  int Range(int low, int high) {
    Node n;
    n.kind = NodeKind::kByteSet;
    for (int b = low; b <= high; ++b) n.set.set(b);
    return Add(std::move(n));
  }
  int AnyByte() { return Range(0, 255); }
  int Lit(std::string_view text) {
    if (text.size() == 1) return Set(text);
    std::vector<int> bytes;
    for (char c : text) bytes.push_back(Set(std::string_view(&c, 1)));
    return Cat(bytes);
  }
  int Empty() { return Add(Node{}); }
  int At(AK kind) {
    Node n;
    n.kind = NodeKind::kAssertion;
    n.assertion = kind;
    return Add(std::move(n));
  }
  int Cat(std::vector<int> children) { return Parent(NodeKind::kConcat, std::move(children)); }
  int Alt(std::vector<int> children) { return Parent(NodeKind::kAlternation, std::move(children)); }
  int Group(int number, int child) {
    int n = Parent(NodeKind::kGroup, {child});
    tree_.nodes[n].group = number;
    tree_.group_count = std::max(tree_.group_count, number);
    return n;
  }
  int Repeat(int child, uint32_t min, uint32_t max, bool greedy = true) {
    int n = Parent(NodeKind::kRepeat, {child});
    Node& node = tree_.nodes[n];
    node.min = min;
    node.max = max;
    node.greedy = greedy;
    return n;
  }
  // A brace or lazy repetition of a group, `depth` loops deep counting itself.
  int Loop(int child, uint32_t min, uint32_t max, int depth, bool greedy = true) {
    int n = Repeat(child, min, max, greedy);
    tree_.nodes[n].is_loop = true;
    tree_.nodes[n].loop_depth = depth;
    tree_.max_loop_depth = std::max(tree_.max_loop_depth, depth);
    return n;
  }
  int Ref(int group, bool case_insensitive = false) {
    Node n;
    n.kind = NodeKind::kBackReference;
    n.group = group;
    n.case_insensitive = case_insensitive;
    tree_.has_back_references = true;
    return Add(std::move(n));
  }
  // `levels` loops (g){1,2} nested around `atom`, groups numbered from the outside in.
  int Nest(int levels, int atom) {
    int node = atom;
    for (int depth = levels; depth >= 1; --depth) node = Loop(Group(depth, node), 1, 2, depth);
    return node;
  }
  SyntaxTree Done(int root) {
    tree_.root = root;
    return tree_;
  }

 private:
  int Add(Node n) {
    tree_.nodes.push_back(std::move(n));
    return static_cast<int>(tree_.nodes.size()) - 1;
  }
  int Parent(NodeKind kind, std::vector<int> children) {
    Node n;
    n.kind = kind;
    n.children = std::move(children);
    return Add(std::move(n));
  }
  SyntaxTree tree_;
};

using Build = std::function<int(Builder&)>;

SyntaxTree Tree(const Build& build) {
  Builder b;
  int root = build(b);
  return b.Done(root);
}

// Every kRepeat turned lazy: the yes/no answer must not change.
SyntaxTree AllLazy(SyntaxTree tree) {
  for (Node& n : tree.nodes) {
    if (n.kind == NodeKind::kRepeat) n.greedy = false;
  }
  return tree;
}

bool Matches(const SyntaxTree& tree, std::string_view text) {
  return Backtracker(tree).Search(text, nullptr);
}

struct Row {
  const char* pattern;  // the pattern the tree stands for
  Build build;
  std::string text;
  bool expected;
  bool parser_refuses = false;  // a tree the parser would not build (an operand that can be empty)
};

void CheckRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SyntaxTree tree = Tree(row.build);
    EXPECT_EQ(Matches(tree, row.text), row.expected) << row.pattern << " on '" << row.text << "'";
    EXPECT_EQ(Matches(AllLazy(tree), row.text), row.expected)
        << row.pattern << " (all lazy) on '" << row.text << "'";
  }
}

std::vector<Row> BackReferenceRows() {
  // (a|ab)(c|bcd)\2
  Build alternatives = [](Builder& b) {
    return b.Cat({b.Group(1, b.Alt({b.Lit("a"), b.Lit("ab")})),
                  b.Group(2, b.Alt({b.Lit("c"), b.Lit("bcd")})), b.Ref(2)});
  };
  // (a|b)+\1
  Build last_iteration = [](Builder& b) {
    return b.Cat({b.Repeat(b.Group(1, b.Set("ab")), 1, kInfinite), b.Ref(1)});
  };
  // ((a)x|a)b\2: the second branch must not see what group 2 took in the first
  Build undone_capture = [](Builder& b) {
    return b.Cat({b.Group(1, b.Alt({b.Cat({b.Group(2, b.Lit("a")), b.Lit("x")}), b.Lit("a")})),
                  b.Lit("b"), b.Ref(2)});
  };
  // ^(a|b\1)+$: inside its own group \1 sees the previous iteration's text
  Build self_reference = [](Builder& b) {
    return b.Cat(
        {b.At(AK::kTextStart),
         b.Repeat(b.Group(1, b.Alt({b.Lit("a"), b.Cat({b.Lit("b"), b.Ref(1)})})), 1, kInfinite),
         b.At(AK::kTextEnd)});
  };
  // (a)|b\1
  Build absent_group = [](Builder& b) {
    return b.Alt({b.Group(1, b.Lit("a")), b.Cat({b.Lit("b"), b.Ref(1)})});
  };
  Build missing_group = [](Builder& b) { return b.Cat({b.Group(1, b.Lit("a")), b.Ref(3)}); };
  Build empty_capture = [](Builder& b) {
    return b.Cat({b.Lit("x"), b.Group(1, b.Empty()), b.Ref(1), b.Lit("y")});
  };
  // (?i)([a-c])\1 and ((?i)[\xC0])\1 with and without case-blind comparison
  Build folded = [](Builder& b) { return b.Cat({b.Group(1, b.Set("abcABC")), b.Ref(1, true)}); };
  Build exact = [](Builder& b) { return b.Cat({b.Group(1, b.Set("abcABC")), b.Ref(1, false)}); };
  Build cyrillic = [](Builder& b) {
    return b.Cat({b.Group(1, b.Set("\xC0\xE0\xA8\xB8")), b.Ref(1, true)});
  };
  Build digits = [](Builder& b) { return b.Cat({b.Group(1, b.Set("12")), b.Ref(1, true)}); };
  return {
      {"(a|ab)(c|bcd)\\2", alternatives, "abcdbcd", true},
      {"(a|ab)(c|bcd)\\2", alternatives, "abcc", true},
      {"(a|ab)(c|bcd)\\2", alternatives, "abcdc", false},
      {"(a|ab)(c|bcd)\\2", alternatives, "abcbcd", false},
      {"(a|b)+\\1", last_iteration, "abb", true},
      {"(a|b)+\\1", last_iteration, "aba", false},
      {"(a|b)+\\1", last_iteration, "abaa", true},
      {"((a)x|a)b\\2", undone_capture, "aba", false},
      {"((a)x|a)b\\2", undone_capture, "axba", true},
      {"^(a|b\\1)+$", self_reference, "aba", true},
      {"^(a|b\\1)+$", self_reference, "abaaba", true},
      {"^(a|b\\1)+$", self_reference, "ababa", false},
      {"^(a|b\\1)+$", self_reference, "abbaba", false},
      {"^(a|b\\1)+$", self_reference, "abb", false},
      {"(a)|b\\1", absent_group, "b", false},
      {"(a)|b\\1", absent_group, "bb", false},
      {"(a)|b\\1", absent_group, "ba", true},
      {"(a)\\3", missing_group, "aa", false},
      {"x()\\1y", empty_capture, "xy", true},
      {"(?i)([abc])\\1", folded, "aA", true},
      {"(?i)([abc])\\1", folded, "Cc", true},
      {"(?i)([abc])\\1", folded, "ab", false},
      {"([abcABC])\\1", exact, "aA", false},
      {"([abcABC])\\1", exact, "xBB", true},
      {"(?i)(\\xC0)\\1", cyrillic, "\xC0\xE0", true},
      {"(?i)(\\xA8)\\1", cyrillic, "\xB8\xA8", true},
      {"(?i)(\\xA8)\\1", cyrillic, "\xA8\xE0", false},
      {"(?i)([12])\\1", digits, "12", false},
      {"(?i)([12])\\1", digits, "22", true},
  };
}

std::vector<Row> AssertionRows() {
  auto before = [](AK kind, std::string lit) {
    return Build([=](Builder& b) { return b.Cat({b.At(kind), b.Lit(lit)}); });
  };
  auto after = [](std::string lit, AK kind) {
    return Build([=](Builder& b) { return b.Cat({b.Lit(lit), b.At(kind)}); });
  };
  Build line_start_at_end = [](Builder& b) {
    return b.Cat({b.Lit("a"), b.At(AK::kLineStart), b.At(AK::kTextEnd)});
  };
  Build word = [](Builder& b) {
    return b.Cat({b.At(AK::kWordBoundary), b.Lit("a"), b.At(AK::kWordBoundary)});
  };
  Build not_word = [](Builder& b) { return b.Cat({b.At(AK::kNotWordBoundary), b.Lit("a")}); };
  Build lone_boundary = [](Builder& b) { return b.At(AK::kWordBoundary); };
  Build lone_non_boundary = [](Builder& b) { return b.At(AK::kNotWordBoundary); };
  Build text_end = [](Builder& b) { return b.At(AK::kTextEnd); };
  return {
      {"^b", before(AK::kTextStart, "b"), "ba", true},
      {"^b", before(AK::kTextStart, "b"), "ab", false},
      {"^b", before(AK::kTextStart, "b"), "a\nb", false},
      {"a$", after("a", AK::kTextEnd), "ba", true},
      {"a$", after("a", AK::kTextEnd), "a\n", false},
      {"a$", after("a", AK::kTextEnd), "a\r\n", false},
      {"a$", after("a", AK::kTextEnd), "ab", false},
      {"$", text_end, "abc", true},
      {"(?m)^b", before(AK::kLineStart, "b"), "b", true},
      {"(?m)^b", before(AK::kLineStart, "b"), "a\nb", true},
      {"(?m)^b", before(AK::kLineStart, "b"), "a\rb", true},
      {"(?m)^b", before(AK::kLineStart, "b"), "a\r\nb", true},
      {"(?m)^b", before(AK::kLineStart, "b"), "ab", false},
      {"(?m)^\\n", before(AK::kLineStart, "\n"), "a\r\n", false},
      {"(?m)^\\n", before(AK::kLineStart, "\n"), "a\n\n", true},
      {"(?m)^\\n", before(AK::kLineStart, "\n"), "\n", true},
      {"a(?m)^\\Z", line_start_at_end, "a\r", false},
      {"a(?m)^\\Z", line_start_at_end, "a", false},
      {"(?m)a$", after("a", AK::kLineEnd), "a\nb", true},
      {"(?m)a$", after("a", AK::kLineEnd), "a\rb", true},
      {"(?m)a$", after("a", AK::kLineEnd), "a\r\nb", true},
      {"(?m)a$", after("a", AK::kLineEnd), "a", true},
      {"(?m)a$", after("a", AK::kLineEnd), "ab", false},
      {"(?m)\\r$", after("\r", AK::kLineEnd), "\r\n", false},
      {"(?m)\\r$", after("\r", AK::kLineEnd), "\r\r", true},
      {"(?m)\\r$", after("\r", AK::kLineEnd), "\n\r", true},
      {"(?m)$\\n", before(AK::kLineEnd, "\n"), "\r\n", false},
      {"(?m)$\\n", before(AK::kLineEnd, "\n"), "x\n", true},
      {"\\ba\\b", word, "a", true},
      {"\\ba\\b", word, " a-", true},
      {"\\ba\\b", word,
       "\xE0"
       "a\xFF",
       true},
      {"\\ba\\b", word, "ba", false},
      {"\\ba\\b", word, "_a", false},
      {"\\ba\\b", word, "a9", false},
      {"\\Ba", not_word, "ba", true},
      {"\\Ba", not_word, "a", false},
      {"\\Ba", not_word, " a", false},
      {"\\b", lone_boundary, "", false},
      {"\\b", lone_boundary, "  \xC0", false},
      {"\\b", lone_boundary, " x", true},
      {"\\B", lone_non_boundary, "", true},
      {"\\B", lone_non_boundary, "x", false},
  };
}

TEST(Backtracker, LineStartsAroundLineBreaks) {
  // Line starts: just after a CR that ends the text, or an LF; never inside CR LF.
  SyntaxTree at_end = Tree([](Builder& b) {
    return b.Cat({b.Set("\r\n"), b.At(AK::kLineStart), b.At(AK::kTextEnd)});
  });
  EXPECT_TRUE(Matches(at_end, "a\r"));
  EXPECT_TRUE(Matches(at_end, "a\n"));
  EXPECT_TRUE(Matches(at_end, "a\r\n"));
  SyntaxTree inside_pair = Tree([](Builder& b) {
    return b.Cat({b.Lit("\r"), b.At(AK::kLineStart)});
  });
  EXPECT_FALSE(Matches(inside_pair, "\r\n"));
  EXPECT_TRUE(Matches(inside_pair, "\r\r"));
}

std::vector<Row> RepetitionRows() {
  const uint32_t big = 99999999;
  Build exactly_big = [=](Builder& b) { return b.Repeat(b.Lit("a"), big, big); };
  Build at_least_three = [=](Builder& b) { return b.Repeat(b.Lit("a"), 3, big); };
  Build pairs = [=](Builder& b) {
    return b.Cat(
        {b.At(AK::kTextStart), b.Loop(b.Group(1, b.Lit("ab")), 2, big, 1), b.At(AK::kTextEnd)});
  };
  Build big_minimum = [=](Builder& b) {
    return b.Loop(b.Group(1, b.Set("ab")), big, kInfinite, 1);
  };
  Build none = [](Builder& b) {
    return b.Cat({b.Loop(b.Group(1, b.Lit("ab")), 0, 0, 1), b.Lit("c")});
  };
  Build give_back = [](Builder& b) {
    return b.Cat({b.At(AK::kTextStart), b.Repeat(b.Lit("a"), 2, 3), b.Lit("ab")});
  };
  Build two_or_three = [](Builder& b) {
    return b.Cat(
        {b.At(AK::kTextStart), b.Loop(b.Group(1, b.Set("ab")), 2, 3, 1), b.At(AK::kTextEnd)});
  };
  Build optional_group = [](Builder& b) {
    return b.Cat({b.At(AK::kTextStart), b.Repeat(b.Group(1, b.Lit("ab")), 0, 1), b.Lit("abc")});
  };
  Build star_then = [](Builder& b) {
    return b.Cat({b.Repeat(b.AnyByte(), 0, kInfinite), b.Lit("x"),
                  b.Repeat(b.Range('0', '9'), 1, kInfinite), b.At(AK::kTextEnd)});
  };
  // Operands that can match empty (the parser only lets '?' build these): must terminate.
  Build empty_star = [](Builder& b) {
    return b.Cat({b.At(AK::kTextStart),
                  b.Repeat(b.Group(1, b.Repeat(b.Lit("a"), 0, 1)), 0, kInfinite),
                  b.At(AK::kTextEnd)});
  };
  Build empty_first = [](Builder& b) {
    return b.Cat({b.At(AK::kTextStart), b.Repeat(b.Alt({b.Empty(), b.Lit("a")}), 1, kInfinite),
                  b.Lit("b"), b.At(AK::kTextEnd)});
  };
  Build empty_minimum = [](Builder& b) {
    return b.Cat({b.At(AK::kTextStart), b.Loop(b.Group(1, b.Repeat(b.Lit("a"), 0, 1)), 3, 5, 1),
                  b.At(AK::kTextEnd)});
  };
  return {
      {"a{99999999}", exactly_big, std::string(1000, 'a'), false},
      {"a{3,99999999}", at_least_three, "xaaay", true},
      {"a{3,99999999}", at_least_three, "aabaa", false},
      {"^(ab){2,99999999}$", pairs, "abab", true},
      {"^(ab){2,99999999}$", pairs, "ababab", true},
      {"^(ab){2,99999999}$", pairs, "ab", false},
      {"^(ab){2,99999999}$", pairs, "ababa", false},
      {"([ab]){99999999,}", big_minimum, "abababab", false},
      {"(ab){0}c", none, "c", true},
      {"(ab){0}c", none, "ab", false},
      {"^a{2,3}ab", give_back, "aaab", true},
      {"^a{2,3}ab", give_back, "aaaab", true},
      {"^a{2,3}ab", give_back, "aab", false},
      {"^([ab]){2,3}$", two_or_three, "aba", true},
      {"^([ab]){2,3}$", two_or_three, "abab", false},
      {"^([ab]){2,3}$", two_or_three, "a", false},
      {"^(ab)?abc", optional_group, "abc", true},
      {"^(ab)?abc", optional_group, "ababc", true},
      {"^(ab)?abc", optional_group, "abab", false},
      {".*x[0-9]+$", star_then, "x1x2y", false},
      {".*x[0-9]+$", star_then, "x1x23", true},
      {"^(a?)*$", empty_star, "aaa", true, true},
      {"^(a?)*$", empty_star, "aab", false, true},
      {"^(|a)+b$", empty_first, "aab", true, true},
      {"^(|a)+b$", empty_first, "aac", false, true},
      {"^(a?){3,5}$", empty_minimum, "", true, true},
      {"^(a?){3,5}$", empty_minimum, "aaaaa", true, true},
      {"^(a?){3,5}$", empty_minimum, "aaaaaa", false, true},
  };
}

TEST(Backtracker, ExactCountsOverLongTexts) {
  // Counted group loops over long texts run on counters.
  std::string pairs_text;
  for (int i = 0; i < 100000; ++i) pairs_text += "ab";
  SyntaxTree hundred_thousand = Tree([](Builder& b) {
    return b.Cat({b.At(AK::kTextStart), b.Loop(b.Group(1, b.Lit("ab")), 100000, 100000, 1),
                  b.At(AK::kTextEnd)});
  });
  EXPECT_TRUE(Matches(hundred_thousand, pairs_text));
  EXPECT_FALSE(Matches(hundred_thousand, pairs_text.substr(2)));
  EXPECT_FALSE(Matches(hundred_thousand, pairs_text + "ab"));
}

TEST(Backtracker, RowsOnHandBuiltTrees) {
  CheckRows(BackReferenceRows());
  CheckRows(AssertionRows());
  CheckRows(RepetitionRows());
}

// The same rows with the tree the parser builds from each pattern.
TEST(Backtracker, RowsThroughTheParser) {
  for (const auto& rows : {BackReferenceRows(), AssertionRows(), RepetitionRows()}) {
    for (const Row& row : rows) {
      if (row.parser_refuses) {
        EXPECT_THROW(Parse(row.pattern), ERegExp) << row.pattern;
        continue;
      }
      EXPECT_EQ(Matches(Parse(row.pattern), row.text), row.expected)
          << row.pattern << " on '" << row.text << "'";
    }
  }
}

// `levels` nested "(...){1,2}" (or "(...)+?" when lazy) around `atom`.
std::string NestedLoops(int levels, const std::string& atom, bool lazy = false) {
  std::string pattern = std::string(levels, '(') + atom;
  for (int i = 0; i < levels; ++i) pattern += lazy ? ")+?" : "){1,2}";
  return pattern;
}

TEST(Backtracker, ParsedLoopNesting) {
  std::string nested_plus = "a";
  for (int i = 0; i < 11; ++i) nested_plus = "(" + nested_plus + "a)+";  // at least 12 a's
  struct Case {
    std::string pattern;
    std::string text;
    bool raises;
    bool expected;
  } cases[] = {
      {NestedLoops(10, "a"), "xa", false, true},
      {NestedLoops(11, "a"), "xa", true, false},
      {NestedLoops(11, "a", true), "a", true, false},
      {"b|" + NestedLoops(11, "a"), "b", false, true},
      {"b|" + NestedLoops(11, "a"), "cb", true, false},
      {"x" + NestedLoops(11, "a"), "abc", false, false},
      {"(a|b)*" + NestedLoops(11, "a"), "", true, false},
      // Greedy '+' of a group is no loop of this kind, however deep.
      {nested_plus, std::string(12, 'a'), false, true},
      {nested_plus, std::string(11, 'a'), false, false},
  };
  for (const Case& c : cases) {
    Backtracker backtracker(Parse(c.pattern));
    if (c.raises) {
      EXPECT_THROW(backtracker.Search(c.text, nullptr), ERegExp) << c.pattern;
    } else {
      EXPECT_EQ(backtracker.Search(c.text, nullptr), c.expected) << c.pattern;
    }
  }
}

TEST(Backtracker, LoopNestingLimit) {
  // Eleven nested (g){1,2} around 'a': the innermost loop is the eleventh level.
  SyntaxTree eleven = Tree([](Builder& b) { return b.Nest(11, b.Lit("a")); });
  SyntaxTree ten = Tree([](Builder& b) { return b.Nest(10, b.Lit("a")); });
  SyntaxTree found_first = Tree([](Builder& b) {
    return b.Alt({b.Lit("b"), b.Nest(11, b.Lit("a"))});
  });
  SyntaxTree never_reached = Tree([](Builder& b) {
    return b.Cat({b.Lit("x"), b.Nest(11, b.Lit("a"))});
  });
  SyntaxTree lazy = Tree([](Builder& b) {
    int node = b.Lit("a");
    for (int depth = 11; depth >= 1; --depth)
      node = b.Loop(b.Group(depth, node), 1, 2, depth, false);
    return node;
  });
  // Lazy (g){0,1}? loops: the outermost matches empty without entering its body.
  SyntaxTree skippable = Tree([](Builder& b) {
    int node = b.Lit("a");
    for (int depth = 11; depth >= 1; --depth)
      node = b.Loop(b.Group(depth, node), 0, 1, depth, false);
    return node;
  });
  struct Case {
    const char* what;
    const SyntaxTree* tree;
    std::string text;
    bool raises;
    bool expected;
  } cases[] = {
      {"eleven levels reached", &eleven, "a", true, false},
      {"eleven levels reached, no match possible", &eleven, "zzz", true, false},
      {"ten levels", &ten, "a", false, true},
      {"ten levels, no match", &ten, "b", false, false},
      {"a match before the loop", &found_first, "b", false, true},
      {"the first start reaches the loop", &found_first, "ab", true, false},
      {"a later start reaches the loop", &found_first, "ba", false, true},
      {"the loop is never reached", &never_reached, "abc", false, false},
      {"the loop is reached after x", &never_reached, "abxa", true, false},
      {"lazy loops", &lazy, "b", true, false},
      {"lazy loops that may be left out", &skippable, "b", false, true},
  };
  for (const Case& c : cases) {
    Backtracker backtracker(*c.tree);
    if (c.raises) {
      try {
        backtracker.Search(c.text, nullptr);
        ADD_FAILURE() << c.what << ": nothing raised";
      } catch (const ERegExp& e) {
        EXPECT_EQ(e.code(), kLoopStackExceeded) << c.what;
        EXPECT_STREQ(e.what(), "RegExp(exec): Loop Stack Exceeded") << c.what;
      }
    } else {
      EXPECT_EQ(backtracker.Search(c.text, nullptr), c.expected) << c.what;
    }
  }
  // After a raise the same thread searches normally again.
  EXPECT_TRUE(Backtracker(ten).Search("xa", nullptr));
}

// (a+)+\1b: exponential on a long run of a's without b.
SyntaxTree Catastrophic() {
  return Tree([](Builder& b) {
    return b.Cat({b.Repeat(b.Group(1, b.Repeat(b.Lit("a"), 1, kInfinite)), 1, kInfinite), b.Ref(1),
                  b.Lit("b")});
  });
}

TEST(Backtracker, StopFlagSetBeforeTheSearch) {
  std::atomic<bool> stop{true};
  EXPECT_FALSE(Backtracker(Catastrophic()).Search(std::string(100000, 'a'), &stop));
  EXPECT_FALSE(Backtracker(Tree([](Builder& b) { return b.Lit("a"); })).Search("a", &stop));
}

TEST(Backtracker, StopFlagSetDuringTheSearch) {
  const Backtracker backtracker(Catastrophic());
  const std::string text(100000, 'a');
  std::atomic<bool> stop{false};
  std::atomic<int> polls{0};
  int polls_seeing_stop = 0;
  // Another thread sets the flag once the search has polled, so while it still searches.
  std::thread stopper([&] {
    while (polls.load() == 0) std::this_thread::yield();
    stop = true;
  });
  const auto hook = [&] {
    if (stop.load()) ++polls_seeing_stop;
    ++polls;
  };
  const bool found = backtracker.Search(text, &stop, hook);
  stopper.join();
  EXPECT_FALSE(found);
  // The search ends at the first poll that sees the flag.
  EXPECT_LE(polls_seeing_stop, 1);
}

// A stop that the hook requests ends the search right there, wherever the search is: between
// steps, while a repetition counts its bytes, while a back reference compares its text, while
// the search skips to a byte that can start a match. Unstopped, each search matches after
// many runs of the hook, so a false can only be the stop's; and the hook runs no more after
// the call that asked for the stop.
TEST(Backtracker, StopRequestedByTheHookEndsTheSearchAtOnce) {
  const std::string run(1 << 18, 'a');  // eight pieces of ByteScanner::kPiece
  const std::string upper(1 << 18, 'A');
  struct Case {
    const char* pattern;
    Build build;
    std::string text;
  } cases[] = {
      {"^(a*)b\\1c",
       [](Builder& b) {
         return b.Cat({b.At(AK::kTextStart), b.Group(1, b.Repeat(b.Lit("a"), 0, kInfinite)),
                       b.Lit("b"), b.Ref(1), b.Lit("c")});
       },
       run + "b" + run + "c"},
      {"^(a*)b\\1c, caseless reference",
       [](Builder& b) {
         return b.Cat({b.At(AK::kTextStart), b.Group(1, b.Repeat(b.Lit("a"), 0, kInfinite)),
                       b.Lit("b"), b.Ref(1, true), b.Lit("c")});
       },
       run + "b" + upper + "c"},
      {"(a|b)*c: step by step",
       [](Builder& b) {
         return b.Cat(
             {b.Repeat(b.Group(1, b.Alt({b.Lit("a"), b.Lit("b")})), 0, kInfinite), b.Lit("c")});
       },
       run + "c"},
      {"x(y)\\1: skipping to an x",
       [](Builder& b) {
         return b.Cat({b.Lit("x"), b.Group(1, b.Lit("y")), b.Ref(1)});
       },
       run + "xyy"},
  };
  for (const Case& c : cases) {
    const Backtracker backtracker(Tree(c.build));
    int unstopped_calls = 0;
    ASSERT_TRUE(backtracker.Search(c.text, nullptr, [&] { ++unstopped_calls; })) << c.pattern;
    ASSERT_GE(unstopped_calls, 4) << c.pattern;
    for (int stop_at : {1, unstopped_calls / 2, unstopped_calls}) {
      std::atomic<bool> stop{false};
      int calls = 0;
      EXPECT_FALSE(backtracker.Search(c.text, &stop,
                                      [&] {
                                        if (++calls == stop_at) stop = true;
                                      }))
          << c.pattern << " stopped at " << stop_at;
      EXPECT_EQ(calls, stop_at) << c.pattern;
    }
  }
}

TEST(Backtracker, MillionByteTexts) {
  std::string abab;
  abab.reserve(1000001);
  while (abab.size() < 1000000) abab += "ab";
  const std::string as(1000000, 'a');
  struct Case {
    const char* pattern;
    Build build;
    const std::string* text;
    std::string suffix;
    bool expected;
  } cases[] = {
      {"^(a|b)*c",
       [](Builder& b) {
         return b.Cat(
             {b.At(AK::kTextStart), b.Repeat(b.Group(1, b.Set("ab")), 0, kInfinite), b.Lit("c")});
       },
       &abab, "c", true},
      {"^(a|b)*c",
       [](Builder& b) {
         return b.Cat({b.At(AK::kTextStart),
                       b.Repeat(b.Group(1, b.Alt({b.Lit("a"), b.Lit("b")})), 0, kInfinite),
                       b.Lit("c")});
       },
       &abab, "", false},
      {"^(ab)+$",
       [](Builder& b) {
         return b.Cat({b.At(AK::kTextStart), b.Repeat(b.Group(1, b.Lit("ab")), 1, kInfinite),
                       b.At(AK::kTextEnd)});
       },
       &abab, "", true},
      {"^(a+)\\1$",
       [](Builder& b) {
         return b.Cat({b.At(AK::kTextStart), b.Group(1, b.Repeat(b.Lit("a"), 1, kInfinite)),
                       b.Ref(1), b.At(AK::kTextEnd)});
       },
       &as, "", true},
      {"^(a+)x\\1$",
       [](Builder& b) {
         return b.Cat({b.At(AK::kTextStart), b.Group(1, b.Repeat(b.Lit("a"), 1, kInfinite)),
                       b.Lit("x"), b.Ref(1), b.At(AK::kTextEnd)});
       },
       &as, "", false},
      {"a*?$",
       [](Builder& b) {
         return b.Cat({b.Repeat(b.Lit("a"), 0, kInfinite, false), b.At(AK::kTextEnd)});
       },
       &as, "", true},
      {"x", [](Builder& b) { return b.Lit("x"); }, &as, "x", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Matches(Tree(c.build), *c.text + c.suffix), c.expected) << c.pattern;
  }
}

TEST(Backtracker, StartsAndEmptyTexts) {
  SyntaxTree empty = Tree([](Builder& b) { return b.Empty(); });
  SyntaxTree one_byte = Tree([](Builder& b) { return b.AnyByte(); });
  SyntaxTree zero_byte = Tree([](Builder& b) {
    return b.Cat({b.Lit("a"), b.Set("\0"s), b.Lit("b")});
  });
  EXPECT_TRUE(Matches(empty, ""));
  EXPECT_FALSE(Matches(one_byte, ""));
  EXPECT_TRUE(Matches(one_byte, "\xFF"));
  // Zero bytes are ordinary bytes here; cutting the text at one is the caller's business.
  EXPECT_TRUE(Matches(zero_byte, "xa\0b"s));
}

TEST(Backtracker, OneObjectSearchesFromSeveralThreads) {
  const Backtracker backtracker(Tree([](Builder& b) {
    return b.Cat({b.Group(1, b.Repeat(b.Set("ab"), 1, kInfinite)), b.Lit("-"), b.Ref(1)});
  }));
  std::atomic<int> wrong{0};
  auto work = [&] {
    for (int i = 0; i < 2000; ++i) {
      if (!backtracker.Search("xxabba-abba", nullptr)) ++wrong;
      if (!backtracker.Search("xxabba-abab", nullptr)) ++wrong;
      if (backtracker.Search("ab-cd", nullptr)) ++wrong;
    }
  };
  std::thread other(work);
  work();
  other.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace veskor::regexp
