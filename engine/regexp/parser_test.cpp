// The dialect's parser: the tree of each construct, the modifiers' effect on it, and every
// compile error with its position.
#include "engine/regexp/parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/regexp/regexp_error.h"

namespace veskor::regexp {
namespace {

std::string ByteText(int b) {
  if (b > 32 && b < 127) return std::string(1, static_cast<char>(b));
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\x%02X", b);
  return buffer;
}

// A set as its runs of bytes, "<a-cx>"; a set of more than half the bytes as "<^...>" with
// the bytes it lacks.
std::string SetText(const ByteSet& set) {
  if (set.count() == 1) {
    for (int b = 0; b < 256; ++b) {
      if (set.test(b)) return ByteText(b);
    }
  }
  const bool inverted = set.count() > 128;
  const ByteSet shown = inverted ? ~set : set;
  std::string text = inverted ? "<^" : "<";
  for (int b = 0; b < 256; ++b) {
    if (!shown.test(b)) continue;
    int last = b;
    while (last + 1 < 256 && shown.test(last + 1)) ++last;
    text += ByteText(b);
    if (last > b) {
      text += '-';
      text += ByteText(last);
    }
    b = last;
  }
  return text + ">";
}

// The tree in a compact form: cat[..], alt[..|..], g1[..], rep{min,max[,lazy][,loopN]}[..],
// \N or \Ni, () for kEmpty, ^A $Z ^L $L \b \B for assertions, and sets as SetText.
std::string Dump(const SyntaxTree& tree, int index) {
  const Node& n = tree.nodes[index];
  std::string text;
  auto children = [&](const char* separator) {
    for (size_t i = 0; i < n.children.size(); ++i) {
      if (i > 0) text += separator;
      text += Dump(tree, n.children[i]);
    }
  };
  switch (n.kind) {
    case NodeKind::kEmpty:
      return "()";
    case NodeKind::kByteSet:
      return SetText(n.set);
    case NodeKind::kAssertion:
      switch (n.assertion) {
        case AssertionKind::kTextStart:
          return "^A";
        case AssertionKind::kTextEnd:
          return "$Z";
        case AssertionKind::kLineStart:
          return "^L";
        case AssertionKind::kLineEnd:
          return "$L";
        case AssertionKind::kWordBoundary:
          return "\\b";
        case AssertionKind::kNotWordBoundary:
          return "\\B";
      }
      return "?";
    case NodeKind::kGroup:
      text = "g" + std::to_string(n.group) + "[";
      children("");
      return text + "]";
    case NodeKind::kConcat:
      text = "cat[";
      children(" ");
      return text + "]";
    case NodeKind::kAlternation:
      text = "alt[";
      children("|");
      return text + "]";
    case NodeKind::kRepeat:
      text = "rep{" + std::to_string(n.min) + "," +
             (n.max == kInfinite ? std::string("*") : std::to_string(n.max));
      if (!n.greedy) text += ",lazy";
      if (n.is_loop) text += ",loop" + std::to_string(n.loop_depth);
      text += "}[";
      children("");
      return text + "]";
    case NodeKind::kBackReference:
      return "\\" + std::to_string(n.group) + (n.case_insensitive ? "i" : "");
  }
  return "?";
}

std::string Dump(std::string_view pattern) {
  const SyntaxTree tree = Parse(pattern);
  return Dump(tree, tree.root);
}

// The message of the pattern's compile error, or "" when it compiles.
std::string ErrorOf(std::string_view pattern) {
  try {
    Parse(pattern);
  } catch (const ERegExp& e) {
    return e.what();
  }
  return "";
}

struct TreeCase {
  const char* pattern;
  const char* tree;
};

void ExpectTrees(const std::vector<TreeCase>& cases) {
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(Dump(c.pattern), c.tree) << c.pattern;
    } catch (const ERegExp& e) {
      ADD_FAILURE() << c.pattern << ": " << e.what();
    }
  }
}

struct ErrorCase {
  const char* pattern;
  const char* message;
};

void ExpectErrors(const std::vector<ErrorCase>& cases) {
  for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.pattern), c.message) << c.pattern;
}

TEST(RegExpParser, EveryErrorAtItsPosition) {
  ExpectErrors({
      {"a(b", "RegExp(comp): ParseReg Unmatched () (pos 3)"},
      {"((a)", "RegExp(comp): ParseReg Unmatched () (pos 4)"},
      {"ab)", "RegExp(comp): ParseReg Unmatched () (pos 2)"},
      {"(a))", "RegExp(comp): ParseReg Unmatched () (pos 3)"},
      {")", "RegExp(comp): ParseReg Unmatched () (pos 0)"},
      {"*a", "RegExp(comp): ?+*{ Follows Nothing (pos 1)"},
      {"+", "RegExp(comp): ?+*{ Follows Nothing (pos 1)"},
      {"a|?b", "RegExp(comp): ?+*{ Follows Nothing (pos 3)"},
      {"a(*)", "RegExp(comp): ?+*{ Follows Nothing (pos 3)"},
      {"a{2,1}", "RegExp(comp): BRACE Min Param Greater then Max (pos 5)"},
      {"a{10,9}", "RegExp(comp): BRACE Min Param Greater then Max (pos 6)"},
      {"a{123456789}", "RegExp(comp): BRACES Argument Too Big (pos 11)"},
      {"a{123456789,}", "RegExp(comp): BRACES Argument Too Big (pos 11)"},
      {"a{1,123456789}", "RegExp(comp): BRACES Argument Too Big (pos 13)"},
      {"a{000000001}", "RegExp(comp): BRACES Argument Too Big (pos 11)"},
      {"\\x{100}", "RegExp(comp): Hex Code After \\x Is Too Big (pos 5)"},
      {"\\x{FFF}", "RegExp(comp): Hex Code After \\x Is Too Big (pos 5)"},
      {"\\x{1000000}", "RegExp(comp): Hex Code After \\x Is Too Big (pos 5)"},
      {"\\xG1", "RegExp(comp): Bad Hex Digit (pos 2)"},
      {"\\x4g", "RegExp(comp): Bad Hex Digit (pos 3)"},
      {"\\x{1G}", "RegExp(comp): Bad Hex Digit (pos 4)"},
      {"\\x{ 1}", "RegExp(comp): Bad Hex Digit (pos 3)"},
      {"\\x", "RegExp(comp): No Hex Code After \\x (pos 2)"},
      {"\\x4", "RegExp(comp): No Hex Code After \\x (pos 3)"},
      {"\\x{", "RegExp(comp): No Hex Code After \\x (pos 3)"},
      {"\\x{12", "RegExp(comp): No Hex Code After \\x (pos 5)"},
      {"[\\x4", "RegExp(comp): No Hex Code After \\x (pos 4)"},
      {"[\\x{1ff}]", "RegExp(comp): Hex Code After \\x Is Too Big (pos 6)"},
      {"[z-a]", "RegExp(comp): Invalid [] Range (pos 3)"},
      {"[\\x7A-\\x61]", "RegExp(comp): Invalid [] Range (pos 6)"},
      {"[a-\\]]", "RegExp(comp): Invalid [] Range (pos 3)"},
      {"[a--]", "RegExp(comp): Invalid [] Range (pos 3)"},
      {"[\\", "RegExp(comp): Parse Atom Trailing \\ (pos 2)"},
      {"[ab\\", "RegExp(comp): Parse Atom Trailing \\ (pos 4)"},
      {"[a-\\", "RegExp(comp): Parse Atom Trailing \\ (pos 4)"},
      {"[abc", "RegExp(comp): Unmatched [] (pos 4)"},
      {"[", "RegExp(comp): Unmatched [] (pos 1)"},
      {"[]", "RegExp(comp): Unmatched [] (pos 2)"},
      {"[^]", "RegExp(comp): Unmatched [] (pos 3)"},
      {"[a-", "RegExp(comp): Unmatched [] (pos 3)"},
      {"[a\\]", "RegExp(comp): Unmatched [] (pos 4)"},
      {"ab\\", "RegExp(comp): Trailing \\ (pos 3)"},
      {"\\", "RegExp(comp): Trailing \\ (pos 1)"},
      {"a(?#comment", "RegExp(comp): Unclosed (?#Comment) (pos 11)"},
      {"(?#", "RegExp(comp): Unclosed (?#Comment) (pos 3)"},
      {"(?i", "RegExp(comp): Urecognized Modifier (pos 3)"},
      {"(?:a)", "RegExp(comp): Urecognized Modifier (pos 4)"},
      {"(?:a", "RegExp(comp): Urecognized Modifier (pos 4)"},
      {"(?=a)b", "RegExp(comp): Urecognized Modifier (pos 4)"},
      {"(?<n>a)", "RegExp(comp): Urecognized Modifier (pos 6)"},
      {"(?i-z)", "RegExp(comp): Urecognized Modifier (pos 5)"},
      {"(? i)", "RegExp(comp): Urecognized Modifier (pos 4)"},
  });
}

TEST(RegExpParser, FourteenGroupsCompileAndAFifteenthFails) {
  std::string flat;
  std::string nested_open;
  std::string nested_close;
  for (int i = 0; i < 14; ++i) {
    flat += "(a)";
    nested_open += "(";
    nested_close += ")";
  }
  const SyntaxTree tree = Parse(flat);
  EXPECT_EQ(tree.group_count, 14);
  EXPECT_EQ(Dump(tree, tree.root).substr(0, 16), "cat[g1[a] g2[a] ");
  EXPECT_EQ(Parse(nested_open + "a" + nested_close).group_count, 14);
  // Modifier groups and comments are not counted.
  EXPECT_EQ(ErrorOf(flat + "(?i)(?#c)"), "");

  EXPECT_EQ(ErrorOf(flat + "(a)"), "RegExp(comp): ParseReg Too Many () (pos 43)");
  EXPECT_EQ(ErrorOf(nested_open + "(a)" + nested_close),
            "RegExp(comp): ParseReg Too Many () (pos 15)");
}

TEST(RegExpParser, EmptyOperandNestedAndMisplacedQuantifiers) {
  ExpectErrors({
      // 106: *, + and brace forms need an operand that cannot match empty.
      {"()*", "RegExp(comp): *+ Operand Could Be Empty (pos 2)"},
      {"(a*)+", "RegExp(comp): *+ Operand Could Be Empty (pos 4)"},
      {"(a|)*", "RegExp(comp): *+ Operand Could Be Empty (pos 4)"},
      {"(a|b?)*", "RegExp(comp): *+ Operand Could Be Empty (pos 6)"},
      {"(a*){2}", "RegExp(comp): *+ Operand Could Be Empty (pos 4)"},
      {"(a*){3,2}", "RegExp(comp): *+ Operand Could Be Empty (pos 4)"},
      {"(\\b)+", "RegExp(comp): *+ Operand Could Be Empty (pos 4)"},
      {"^*", "RegExp(comp): *+ Operand Could Be Empty (pos 1)"},
      {"a$+", "RegExp(comp): *+ Operand Could Be Empty (pos 2)"},
      {"\\b*", "RegExp(comp): *+ Operand Could Be Empty (pos 2)"},
      {"\\A{1}", "RegExp(comp): *+ Operand Could Be Empty (pos 2)"},
      {"(?i)*", "RegExp(comp): *+ Operand Could Be Empty (pos 4)"},
      {"(?#c)+", "RegExp(comp): *+ Operand Could Be Empty (pos 5)"},
      {"a|(?)*", "RegExp(comp): *+ Operand Could Be Empty (pos 5)"},
      {"(?x) *", "RegExp(comp): *+ Operand Could Be Empty (pos 5)"},
      {"()\\1*", "RegExp(comp): *+ Operand Could Be Empty (pos 4)"},
      {"(a*)\\1+", "RegExp(comp): *+ Operand Could Be Empty (pos 6)"},
      // 107: a quantifier directly after a quantifier or after its lazy '?'.
      {"a**", "RegExp(comp): Nested *?+ (pos 2)"},
      {"a*+", "RegExp(comp): Nested *?+ (pos 2)"},
      {"a*?+", "RegExp(comp): Nested *?+ (pos 3)"},
      {"a???", "RegExp(comp): Nested *?+ (pos 3)"},
      {"a+{2}", "RegExp(comp): Nested *?+ (pos 2)"},
      {"a{2}{3}", "RegExp(comp): Nested *?+ (pos 4)"},
      {"a{2}??", "RegExp(comp): Nested *?+ (pos 5)"},
      {"(?-g)a*??", "RegExp(comp): Nested *?+ (pos 8)"},
      {"(?x)a* *", "RegExp(comp): Nested *?+ (pos 7)"},
      {"(?x)a*?#c\n?", "RegExp(comp): Nested *?+ (pos 10)"},
      // 115: first in the pattern, an alternative or a group.
      {"?", "RegExp(comp): ?+*{ Follows Nothing (pos 1)"},
      {"a|*", "RegExp(comp): ?+*{ Follows Nothing (pos 3)"},
      {"(+a)", "RegExp(comp): ?+*{ Follows Nothing (pos 2)"},
      {"(a|?)", "RegExp(comp): ?+*{ Follows Nothing (pos 4)"},
      {"(?x)a| *", "RegExp(comp): ?+*{ Follows Nothing (pos 8)"},
  });
  // '?' may apply to an operand that can match empty, and after one quantifier a '{' that
  // begins no brace form is a byte.
  ExpectTrees({
      {"()?", "rep{0,1}[g1[()]]"},
      {"^?", "rep{0,1}[^A]"},
      {"(?i)?", "rep{0,1}[()]"},
      {"(a)\\1*", "cat[g1[a] rep{0,*}[\\1]]"},
      {"(\\1)*", "rep{0,*}[g1[\\1]]"},
      {"\\1+()", "cat[rep{1,*}[\\1] g1[()]]"},
  });
}

TEST(RegExpParser, BracesThatBeginNoFormAreBytes) {
  ExpectTrees({
      {"a{,5}", "cat[a { , 5 }]"},
      {"a{x}", "cat[a { x }]"},
      {"a{}", "cat[a { }]"},
      {"a{2", "cat[a { 2]"},
      {"a{2,", "cat[a { 2 ,]"},
      {"a{2,x}", "cat[a { 2 , x }]"},
      {"a{ 2}", "cat[a { \\x20 2 }]"},
      {"{2}", "cat[{ 2 }]"},
      {"{2}{3}", "cat[{ 2 rep{3,3}[}]]"},
      {"a|{2}", "alt[a|cat[{ 2 }]]"},
      {"({1,2})", "g1[cat[{ 1 , 2 }]]"},
      {"a*{x}", "cat[rep{0,*}[a] { x }]"},
      {"a}]", "cat[a } ]]"},
  });
}

TEST(RegExpParser, QuantifierForms) {
  ExpectTrees({
      {"ab*", "cat[a rep{0,*}[b]]"},
      {"a+b?", "cat[rep{1,*}[a] rep{0,1}[b]]"},
      {"a*?", "rep{0,*,lazy}[a]"},
      {"a+?", "rep{1,*,lazy}[a]"},
      {"a??", "rep{0,1,lazy}[a]"},
      {"a{3}", "rep{3,3}[a]"},
      {"a{3,}", "rep{3,*}[a]"},
      {"a{3,5}?", "rep{3,5,lazy}[a]"},
      {"a{0}", "rep{0,0}[a]"},
      {"a{0012}", "rep{12,12}[a]"},
      {"a{12345678,99999999}", "rep{12345678,99999999}[a]"},
      {"a{4,4}", "rep{4,4}[a]"},
      {"(?-g)a*", "cat[() rep{0,*,lazy}[a]]"},
      {"(?-g)a{2}?b", "cat[() rep{2,2,lazy}[a] b]"},
      {"(ab)+", "rep{1,*}[g1[cat[a b]]]"},
  });
}

TEST(RegExpParser, ModifiersLastToTheEndOfTheirGroup) {
  ExpectTrees({
      {"a", "a"},
      {"(?i)a", "cat[() <Aa>]"},
      {"(?I)a1", "cat[() <Aa> 1]"},
      {"((?i)a)a", "cat[g1[cat[() <Aa>]] a]"},
      {"(?i)a|b", "alt[cat[() <Aa>]|<Bb>]"},
      {"a(?i)|b", "alt[cat[a ()]|<Bb>]"},
      {"(?i)(a(?-i)b)c", "cat[() g1[cat[<Aa> () b]] <Cc>]"},
      {"(?i-i)a", "cat[() a]"},
      {"(?)a(?-)", "cat[() a ()]"},
      {"(?#note)a", "cat[() a]"},
      {"(?#(?i)a", "cat[() a]"},
      {"(?i)\\xE0\\x41", "cat[() <\\xC0\\xE0> <Aa>]"},
      {"(?i)\\q", "cat[() <Qq>]"},
      {".", "<^>"},
      {"(?-s).", "cat[() <^\\x0A\\x0D>]"},
      {"(?-s)(?s).", "cat[() () <^>]"},
      {"^$", "cat[^A $Z]"},
      {"(?m)^$", "cat[() ^L $L]"},
      {"(?M)\\A\\Z", "cat[() ^A $Z]"},
      {"((?m)^)^", "cat[g1[cat[() ^L]] ^A]"},
      {"(a)\\1", "cat[g1[a] \\1]"},
      {"(?i)(a)\\1", "cat[() g1[<Aa>] \\1i]"},
      {"(?-r)(?r)[\\xE0-\\xFF]", "cat[() () <\\xB8\\xE0-\\xFF>]"},
  });
}

TEST(RegExpParser, ExtendedModeSkipsBlanksAndComments) {
  ExpectTrees({
      {"(?x)a b", "cat[() a b]"},
      {"(?x)a + b*", "cat[() rep{1,*}[a] rep{0,*}[b]]"},
      {"(?x)a\t\r\n#note\nb", "cat[() a b]"},
      {"(?x)a # to the end", "cat[() a]"},
      {"(?x)a #c\r+", "cat[() rep{1,*}[a]]"},
      {"(?x)a {2}", "cat[() rep{2,2}[a]]"},
      {"(?x)a* ?", "cat[() rep{0,*,lazy}[a]]"},
      {"(?x)a{2, 3}", "cat[() a { 2 , 3 }]"},
      {"(?x)a\\ \\#", "cat[() a \\x20 #]"},
      {"(?x)[ #]", "cat[() <\\x20#>]"},
      {"(?x)( a | b )", "cat[() g1[alt[a|b]]]"},
      {"((?x) a ) b", "cat[g1[cat[() a]] \\x20 b]"},
      {"(?x)a(?-x) b", "cat[() a () \\x20 b]"},
      {"a b", "cat[a \\x20 b]"},
  });
}

TEST(RegExpParser, Escapes) {
  ExpectTrees({
      {"\\t\\n\\r\\f\\a\\e", "cat[\\x09 \\x0A \\x0D \\x0C \\x07 \\x1B]"},
      {"\\x41\\x4a\\x{041}\\x{}\\x{0000ff}", "cat[A J A \\x00 \\xFF]"},
      {"\\0\\.\\\\\\(\\{\\y", "cat[0 . \\ ( { y]"},
      {"\\d", "<0-9>"},
      {"\\D", "<^0-9>"},
      {"\\w", "<0-9A-Z_a-z>"},
      {"\\W", "<^0-9A-Z_a-z>"},
      {"\\s", "<\\x09-\\x0A\\x0C-\\x0D\\x20>"},
      {"\\S", "<^\\x09-\\x0A\\x0C-\\x0D\\x20>"},
      {"\\b\\B\\A\\Z", "cat[\\b \\B ^A $Z]"},
      {"\\9", "\\9"},
  });
  EXPECT_TRUE(Parse("a\\1").has_back_references);
  EXPECT_FALSE(Parse("a\\0").has_back_references);
}

TEST(RegExpParser, SetMembersAndRanges) {
  ExpectTrees({
      {"[abc]", "<a-c>"},
      {"[]a]", "<]a>"},
      {"[^]a]", "<^]a>"},
      {"[]]]", "cat[] ]]"},
      {"[-a]", "<-a>"},
      {"[^-a]", "<^-a>"},
      {"[a-]", "<-a>"},
      {"[a-c-e]", "<-a-ce>"},
      {"[\\d-z]", "<-0-9z>"},
      {"[\\w-]", "<-0-9A-Z_a-z>"},
      {"[\\s-!]", "<\\x09-\\x0A\\x0C-\\x0D\\x20-!->"},
      {"[a-\\d]", "<-0-9a>"},
      {"[a-\\S]", "<-Sa>"},
      {"[\\D\\W\\S\\b]", "<DSWb>"},
      {"[\\D-F]", "<D-F>"},
      {"[\\]\\\\\\-\\^]", "<-\\-^>"},
      {"[\\x41-\\x43]", "<A-C>"},
      {"[\\t-\\r]", "<\\x09-\\x0D>"},
      {"[A-\\]]", "<A-]>"},
      {"[--/]", "<--/>"},
      {"[\\x{61}-c]", "<a-c>"},
      {"[.*+?(|)$^{]", "<$(-+.?^{-|>"},
  });
}

TEST(RegExpParser, CyrillicRangesAndCaseFolding) {
  ExpectTrees({
      {"[\\xE0-\\xFF]", "<\\xB8\\xE0-\\xFF>"},
      {"[\xE0-\xFF]", "<\\xB8\\xE0-\\xFF>"},
      {"[\\xC0-\\xDF]", "<\\xA8\\xC0-\\xDF>"},
      {"[\\xE0-\\xDF]", "<\\xA8\\xB8\\xC0-\\xFF>"},
      {"[^\\xE0-\\xFF]", "<^\\xB8\\xE0-\\xFF>"},
      {"(?-r)[\\xE0-\\xFF]", "cat[() <\\xE0-\\xFF>]"},
      {"(?-r)[\\xC0-\\xDF]", "cat[() <\\xC0-\\xDF>]"},
      {"[\\xE1-\\xFF]", "<\\xE1-\\xFF>"},
      {"(?i)[a-c]", "cat[() <A-Ca-c>]"},
      {"(?i)[^a]", "cat[() <^Aa>]"},
      {"(?i)[\\xE0-\\xFF]", "cat[() <\\xA8\\xB8\\xC0-\\xFF>]"},
      {"(?i)[\\d]", "cat[() <0-9>]"},
  });
  ExpectErrors({
      {"(?-r)[\\xE0-\\xDF]", "RegExp(comp): Invalid [] Range (pos 11)"},
      {"(?-r)[\xE0-\xDF]", "RegExp(comp): Invalid [] Range (pos 8)"},
      {"[\\xE1-\\xDF]", "RegExp(comp): Invalid [] Range (pos 6)"},
  });
}

TEST(RegExpParser, LoopsAndTheirDepth) {
  ExpectTrees({
      {"(a)*", "rep{0,*}[g1[a]]"},
      {"(a)+?", "rep{1,*,lazy,loop1}[g1[a]]"},
      {"(a)??", "rep{0,1,lazy,loop1}[g1[a]]"},
      {"(a){2}", "rep{2,2,loop1}[g1[a]]"},
      {"(?-g)(a)*", "cat[() rep{0,*,lazy,loop1}[g1[a]]]"},
      {"a{2}", "rep{2,2}[a]"},
      {"[a]*?", "rep{0,*,lazy}[a]"},
      {"((a){2})*", "rep{0,*}[g1[rep{2,2,loop1}[g2[a]]]]"},
      {"((a){2}b)*?", "rep{0,*,lazy,loop1}[g1[cat[rep{2,2,loop2}[g2[a]] b]]]"},
  });
  EXPECT_EQ(Parse("(a)*").max_loop_depth, 0);
  EXPECT_EQ(Parse("(a){2}(b){3}").max_loop_depth, 1);
  EXPECT_EQ(Parse("((a){2}b)*?((c){1})+?").max_loop_depth, 2);

  // Loops nested deeper than the matcher allows still parse: the limit applies while matching.
  std::string pattern = "a";
  for (int i = 0; i < 14; ++i) pattern = "(" + pattern + "){1,2}";
  EXPECT_EQ(Parse(pattern).max_loop_depth, 14);
}

TEST(RegExpParser, CanMatchEmpty) {
  struct Case {
    const char* pattern;
    bool empty;
  } cases[] = {
      {"a", false},     {"a?", true},      {"a*b", false},
      {"a{0,3}", true}, {"a{1,3}", false}, {"(a|)", true},
      {"a|b", false},   {"\\b", true},     {"^$", true},
      {"(?i)", true},   {"()\\1", true},   {"(a)\\1", false},
      {"\\1()", false}, {"(\\1)", false},  {"[^\\x00-\\xFF]", false},
  };
  for (const auto& c : cases) {
    const SyntaxTree tree = Parse(c.pattern);
    EXPECT_EQ(CanMatchEmpty(tree, tree.root), c.empty) << c.pattern;
  }
}

TEST(RegExpParser, TreeShapeAndPatternEnd) {
  // Children are stored before their parents and the root is the last node.
  const SyntaxTree tree = Parse("(a|b*)c(d)");
  ASSERT_EQ(tree.root, static_cast<int>(tree.nodes.size()) - 1);
  for (size_t i = 0; i < tree.nodes.size(); ++i) {
    for (int child : tree.nodes[i].children) EXPECT_LT(child, static_cast<int>(i));
  }
  EXPECT_EQ(tree.group_count, 2);
  EXPECT_FALSE(tree.has_back_references);

  EXPECT_EQ(Dump(""), "()");
  EXPECT_EQ(Dump("|"), "alt[()|()]");
  EXPECT_EQ(Dump(std::string_view("ab\0(", 4)), "cat[a b]");
  EXPECT_EQ(ErrorOf(std::string_view("a\\\0x", 4)), "RegExp(comp): Trailing \\ (pos 2)");
}

}  // namespace
}  // namespace veskor::regexp
