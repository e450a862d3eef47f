// The filter as the scanner uses it: the dialect's answers, its errors, and both production
// executors against the reference matcher on generated patterns and texts.
#include "engine/regexp/regexp.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/regexp/backtracker.h"
#include "engine/regexp/parser.h"
#include "engine/regexp/pike_vm.h"
#include "engine/regexp/reference_matcher.h"

namespace veskor {
namespace {

struct Row {
  std::string pattern, text;
  bool expected;
};

void ExpectRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    EXPECT_EQ(RegExpMatches(row.pattern, row.text), row.expected)
        << "pattern [" << row.pattern << "] text [" << row.text << "]";
  }
}

TEST(RegExp, SearchAndAnchors) {
  ExpectRows({
      {"abc", "xxabcxx", true},
      {"^abc$", "abc", true},
      {"^abc$", "abcd", false},
      {"^abc$", "xabc", false},
      {"abc$", "abc\n", false},
      {"(?m)abc$", "abc\n", true},
      {"(?m)^b", "a\r\nb", true},
      {"(?m)a$", "a\r\nb", true},
      {"(?m)^\\nb", "a\r\nb", false},
      {"(?m)\\r$", "a\r\nb", false},
      {"\\Aab", "ab", true},
      {"(?m)\\Ab", "a\nb", false},
      {"b\\Z", "ab", true},
      {"(?m)a\\Z", "a\nb", false},
      {"(?m)^$", "a\n\nb", true},
      {"^", "x", true},
      {"x$", "ax", true},
      {"\\bfoo\\b", "a foo.", true},
      {"\\bfoo\\b", "afoo", false},
      {"\\Bfoo", "afoo", true},
      {"\\b", "\xE0\xE1", false},
  });
}

TEST(RegExp, ClassesDotAndCase) {
  ExpectRows({
      {"a.c", "a\rc", true},
      {"(?-s)a.c", "a\rc", false},
      {"(?-s)a.c", "abc", true},
      {"ABC", "abc", false},
      {"(?i)ABC", "abc", true},
      {"((?i)a)b", "AB", false},
      {"((?i)a)b", "Ab", true},
      {"(?i)\xC0", "\xE0", true},
      {"(?i)\xA8", "\xB8", true},
      {"\\w+", "\xE0\xE1\xFF", false},
      {"\\w", "_", true},
      {"\\W", "a_1", false},
      {"\\d\\D", "1a", true},
      {"\\s\\S", "\t.", true},
      {"\\s", "\v", false},
      {"[\xE0-\xFF]", "\xB8", true},
      {"(?-r)[\xE0-\xFF]", "\xB8", false},
      {"[\xC0-\xDF]", "\xA8", true},
      {"[\xE0-\xDF]", "\xA8", true},
      {"[\xE0-\xDF]", "\xB8", true},
      {"(?i)[a-c]", "B", true},
      {"(?i)[^a]", "A", false},
      {"[]a]", "]", true},
      {"[^]a]", "b", true},
      {"[a-]", "-", true},
      {"[\\d-z]", "-", true},
      {"[a\\-z]", "b", false},
      {"[\\x41-\\x43]", "B", true},
      {"[\\D]", "D", true},
      {"\\x41", "A", true},
      {"\\x{041}", "A", true},
      {"\\0", "0", true},
      {"\\t\\n\\r\\f\\a\\e", "\t\n\r\f\a\x1b", true},
      {"a\\.b", "axb", false},
  });
}

TEST(RegExp, QuantifiersGroupsAndBackReferences) {
  ExpectRows({
      {"a{,5}", "a{,5}", true},
      {"a{,5}", "aaaaa", false},
      {"a{x}", "a{x}", true},
      {"{2}", "{2}", true},
      {"a{3}", "aa", false},
      {"a{3}", "aaa", true},
      {"^a{2,3}$", "aaaa", false},
      {"^a{2,}$", "aaaaaaaa", true},
      {"^(ab){2}$", "abab", true},
      {"^a*?b$", "aab", true},
      {"^a+?$", "aaa", true},
      {"^a??b", "b", true},
      {"(?-g)^a*b$", "aaab", true},
      {"^(a|b)+$", "abba", true},
      {"^(a|b)+$", "abc", false},
      {"(a)\\1", "aa", true},
      {"(a)\\1", "aA", false},
      {"(?i)(a)\\1", "aA", true},
      {"(a)|b\\1", "b", false},
      {"^(a|ab)(c|bcd)\\2$", "abcdbcd", true},
      {"(a(?#note)b)", "ab", true},
      {"(?x) a b # c\n c", "abc", true},
      {"(?x)a\\ b", "a b", true},
      {"(?x)[ ]", " ", true},
      {"^(\\d{3}-){2}\\d{4}$", "555-123-4567", true},
      {"(a+)+b", std::string(200000, 'a'), false},
  });
}

TEST(RegExp, TextAndPatternEndAtTheirFirstZeroByte) {
  EXPECT_TRUE(RegExpMatches(std::string("ab\0c", 4), "abx"));
  EXPECT_FALSE(RegExpMatches("abc", std::string("ab\0c", 4)));
  EXPECT_TRUE(RegExpMatches("^ab$", std::string("ab\0c", 4)));
}

TEST(RegExp, CompileErrorsCarryTextPositionAndCode) {
  struct Case {
    std::string pattern;
    int code;
    std::string message;
  } cases[] = {
      {"a(b", 103, "RegExp(comp): ParseReg Unmatched () (pos 3)"},
      {"ab)", 104, "RegExp(comp): ParseReg Unmatched () (pos 2)"},
      {"(?:x)", 127, "RegExp(comp): Urecognized Modifier (pos 4)"},  // no such group form here
      {"a(?=b)", 127, "RegExp(comp): Urecognized Modifier (pos 5)"},
      {"*a", 115, "RegExp(comp): ?+*{ Follows Nothing (pos 1)"},
      {"a{2,1}", 124, "RegExp(comp): BRACE Min Param Greater then Max (pos 5)"},
      {"\\x{100}", 112, "RegExp(comp): Hex Code After \\x Is Too Big (pos 5)"},
      {"(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)", 102,
       "RegExp(comp): ParseReg Too Many () (pos 43)"},
  };
  for (const Case& c : cases) {
    try {
      RegExpMatches(c.pattern, "x");
      ADD_FAILURE() << c.pattern << " compiled";
    } catch (const ERegExp& e) {
      EXPECT_EQ(e.what(), c.message) << c.pattern;
      EXPECT_EQ(e.code(), c.code) << c.pattern;
    }
  }
  EXPECT_NO_THROW(RegExpMatches("(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)(a)", "x"));
}

TEST(RegExp, LoopNestedElevenDeepRaisesWhileMatching) {
  std::string pattern(11, '(');
  pattern += 'a';
  for (int i = 0; i < 11; ++i) pattern += "){1}";
  try {
    RegExpMatches(pattern, "a");
    ADD_FAILURE() << "no error";
  } catch (const ERegExp& e) {
    EXPECT_STREQ(e.what(), "RegExp(exec): Loop Stack Exceeded");
    EXPECT_EQ(e.code(), 1014);
  }
  std::string ten(10, '(');
  ten += 'a';
  for (int i = 0; i < 10; ++i) ten += "){1}";
  EXPECT_TRUE(RegExpMatches(ten, "a"));
}

TEST(RegExp, StopEndsABacktrackingSearch) {
  const CompiledRegExp expression("(a+)+\\1b");
  std::atomic<bool> stop{true};
  EXPECT_FALSE(expression.Matches(std::string(100000, 'a'), &stop));
}

// A random pattern over a small grammar whose texts are made of the same few bytes.
class PatternMaker {
 public:
  explicit PatternMaker(uint32_t seed) : rng_(seed) {}

  std::string Pattern() {
    groups_ = 0;
    return Alternation(0);
  }

  std::string Text() {
    static const char kBytes[] = {'a', 'b', 'A', '1', ' ', '\r', '\n', '_', '\xE0', '\xC0'};
    std::string text;
    const size_t size = rng_() % 12;
    for (size_t i = 0; i < size; ++i) text.push_back(kBytes[rng_() % sizeof kBytes]);
    return text;
  }

 private:
  std::string Alternation(int depth) {
    std::string out = Sequence(depth);
    while (rng_() % 5 == 0) out.append("|").append(Sequence(depth));
    return out;
  }
  std::string Sequence(int depth) {
    std::string out;
    const int pieces = 1 + static_cast<int>(rng_() % 3);
    for (int i = 0; i < pieces; ++i) out += Piece(depth);
    return out;
  }
  std::string Piece(int depth) {
    std::string piece = Atom(depth);
    static const char* kQuantifiers[] = {"",   "",   "",    "*",     "+",    "?",      "*?",
                                         "+?", "??", "{2}", "{0,2}", "{1,}", "{1,3}?", "{0}"};
    return piece.append(kQuantifiers[rng_() % 14]);
  }
  std::string Atom(int depth) {
    static const char* kAtoms[] = {"a",    "b",    "A",     ".",           "[ab]", "[^a]",
                                   "\\w",  "\\s",  "\\d",   "\\b",         "\\B",  "^",
                                   "$",    "\\A",  "\\Z",   "[\xE0-\xFF]", "\\1",  "\\2",
                                   "(?i)", "(?m)", "(?-s)", "\\r\\n",      "\\n"};
    const uint32_t choice = rng_() % 30;
    if (choice < 23) return kAtoms[choice];
    if (depth >= 3 || groups_ >= 14) return "a";
    ++groups_;
    std::string group = "(";
    group.append(Alternation(depth + 1)).append(")");
    return group;
  }

  std::mt19937 rng_;
  int groups_ = 0;
};

// Both production executors answer as the reference does, or fail with the same error.
TEST(RegExp, ExecutorsAgreeWithTheReferenceOnGeneratedPatterns) {
  PatternMaker maker(2024);
  int compared = 0, automaton = 0;
  for (int round = 0; round < 6000; ++round) {
    const std::string pattern = maker.Pattern();
    regexp::SyntaxTree tree;
    try {
      tree = regexp::Parse(pattern);
    } catch (const ERegExp&) {
      continue;  // errors are the parser's, shared by every executor
    }
    const regexp::Backtracker backtracker(tree);
    std::unique_ptr<regexp::PikeVm> vm;
    if (regexp::PikeVm::Supports(tree)) vm = std::make_unique<regexp::PikeVm>(tree);
    for (int t = 0; t < 8; ++t) {
      const std::string text = maker.Text();
      const bool expected = regexp::ReferenceSearch(tree, text);
      ASSERT_EQ(backtracker.Search(text, nullptr), expected)
          << "backtracker, pattern [" << pattern << "] text [" << text << "]";
      if (vm) {
        ASSERT_EQ(vm->Search(text), expected)
            << "automaton, pattern [" << pattern << "] text [" << text << "]";
        ++automaton;
      }
      ++compared;
    }
  }
  EXPECT_GT(compared, 10000);
  EXPECT_GT(automaton, 5000);
}

}  // namespace
}  // namespace veskor
