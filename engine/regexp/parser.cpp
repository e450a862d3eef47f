// The parser of the presets' regular-expression dialect: a recursive descent that recurses only
// into capturing groups, resolving the modifiers into the nodes as it goes.
#include "engine/regexp/parser.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/regexp/regexp_error.h"
#include "text/cp1251.h"

namespace veskor::regexp {
namespace {

constexpr int kMaxGroups = 14;
constexpr size_t kMaxBraceDigits = 8;

// The parse-time modifier flags; the defaults are those of every new matcher.
struct Modifiers {
  bool case_insensitive = false;  // i
  bool cyrillic_ranges = true;    // r
  bool dot_all = true;            // s
  bool greedy = true;             // g
  bool multi_line = false;        // m
  bool extended = false;          // x
};

ByteSet RangeSet(int first, int last) {
  ByteSet set;
  for (int b = first; b <= last; ++b) set.set(b);
  return set;
}

ByteSet DigitBytes() { return RangeSet('0', '9'); }

ByteSet WordBytes() {
  ByteSet set = DigitBytes() | RangeSet('a', 'z') | RangeSet('A', 'Z');
  set.set('_');
  return set;
}

ByteSet SpaceBytes() {
  ByteSet set;
  for (int b : {32, 9, 10, 13, 12}) set.set(b);
  return set;
}

// The Cyrillic letters of the 8-bit code page: each block of 32 and its letter outside it.
ByteSet CyrillicLower() {
  ByteSet set = RangeSet(0xE0, 0xFF);
  set.set(0xB8);
  return set;
}

ByteSet CyrillicUpper() {
  ByteSet set = RangeSet(0xC0, 0xDF);
  set.set(0xA8);
  return set;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsExtendedBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// What a letter after '\' stands for.
enum class EscapeKind : uint8_t {
  kByte,          // a control byte: \t \n \r \f \a \e
  kClass,         // \d \w \s
  kNegatedClass,  // \D \W \S; inside a set, the letter itself
  kAssertion,     // \b \B \A \Z; inside a set, the letter itself
  kHexCode,       // \xHH and \x{...}: the byte of that code
};

struct EscapeLetter {
  char letter;
  EscapeKind kind;
  uint8_t byte = 0;                                     // kByte
  ByteSet (*members)() = nullptr;                       // kClass, kNegatedClass: the class's bytes
  AssertionKind assertion = AssertionKind::kTextStart;  // kAssertion
};

// Every escape letter; any other letter stands for itself, and the digits 1 to 9 outside a set
// for backreferences.
constexpr EscapeLetter kEscapeLetters[] = {
    {.letter = 't', .kind = EscapeKind::kByte, .byte = 9},
    {.letter = 'n', .kind = EscapeKind::kByte, .byte = 10},
    {.letter = 'r', .kind = EscapeKind::kByte, .byte = 13},
    {.letter = 'f', .kind = EscapeKind::kByte, .byte = 12},
    {.letter = 'a', .kind = EscapeKind::kByte, .byte = 7},
    {.letter = 'e', .kind = EscapeKind::kByte, .byte = 27},
    {.letter = 'd', .kind = EscapeKind::kClass, .members = &DigitBytes},
    {.letter = 'D', .kind = EscapeKind::kNegatedClass, .members = &DigitBytes},
    {.letter = 'w', .kind = EscapeKind::kClass, .members = &WordBytes},
    {.letter = 'W', .kind = EscapeKind::kNegatedClass, .members = &WordBytes},
    {.letter = 's', .kind = EscapeKind::kClass, .members = &SpaceBytes},
    {.letter = 'S', .kind = EscapeKind::kNegatedClass, .members = &SpaceBytes},
    {.letter = 'b', .kind = EscapeKind::kAssertion, .assertion = AssertionKind::kWordBoundary},
    {.letter = 'B', .kind = EscapeKind::kAssertion, .assertion = AssertionKind::kNotWordBoundary},
    {.letter = 'A', .kind = EscapeKind::kAssertion, .assertion = AssertionKind::kTextStart},
    {.letter = 'Z', .kind = EscapeKind::kAssertion, .assertion = AssertionKind::kTextEnd},
    {.letter = 'x', .kind = EscapeKind::kHexCode},
};

// The entry of a letter after '\', or null when it has none.
const EscapeLetter* FindEscape(char c) {
  for (const EscapeLetter& escape : kEscapeLetters) {
    if (escape.letter == c) return &escape;
  }
  return nullptr;
}

// The letters after '\' that name a class (\d \D \w \W \s \S).
bool IsClassLetter(char c) {
  const EscapeLetter* escape = FindEscape(c);
  return escape != nullptr &&
         (escape->kind == EscapeKind::kClass || escape->kind == EscapeKind::kNegatedClass);
}

ByteSet FoldCase(const ByteSet& set) {
  ByteSet folded = set;
  for (int b = 0; b < 256; ++b) {
    if (set.test(b)) folded.set(OtherCase1251(static_cast<uint8_t>(b)));
  }
  return folded;
}

// The shape of a complete brace form "{n}", "{n,}" or "{n,m}" found at some '{'.
struct BraceForm {
  size_t min_begin = 0;
  size_t min_end = 0;  // the ',' or '}' after n
  bool has_comma = false;
  size_t max_begin = 0;
  size_t max_end = 0;  // the '}' after m (empty m when max_begin == max_end)
  size_t close = 0;    // the '}'
};

// One member of a set before ranges are formed: a byte, or a class (\d \w \s).
struct SetElement {
  bool is_class = false;
  ByteSet members;
  uint8_t byte = 0;
};

class Parser {
 public:
  explicit Parser(std::string_view pattern) : p_(pattern) {}

  SyntaxTree Run() {
    const int root = ParseAlternation();
    if (pos_ < p_.size()) throw CompileError(kUnmatchedCloseGroup, pos_);  // a ')' at the top
    tree_.root = root;
    FillLoopDepths();
    return std::move(tree_);
  }

 private:
  int Add(Node node) {
    tree_.nodes.push_back(std::move(node));
    return static_cast<int>(tree_.nodes.size()) - 1;
  }

  int AddSet(const ByteSet& set) {
    Node node;
    node.kind = NodeKind::kByteSet;
    node.set = set;
    return Add(std::move(node));
  }

  int AddLiteral(uint8_t byte) {
    ByteSet set;
    set.set(byte);
    if (mods_.case_insensitive) set.set(OtherCase1251(byte));
    return AddSet(set);
  }

  int AddAssertion(AssertionKind kind) {
    Node node;
    node.kind = NodeKind::kAssertion;
    node.assertion = kind;
    return Add(std::move(node));
  }

  int AddEmpty() { return Add(Node{}); }

  // A node of `kind` over `parts`, or the part itself when there is only one.
  int Join(NodeKind kind, std::vector<int> parts) {
    if (parts.size() == 1) return parts[0];
    Node node;
    node.kind = kind;
    node.children = std::move(parts);
    return Add(std::move(node));
  }

  bool AtEnd() const { return pos_ >= p_.size(); }

  // With x on, steps over blanks and '#' comments (to the next CR or LF).
  void SkipExtended() {
    if (!mods_.extended) return;
    while (pos_ < p_.size()) {
      if (IsExtendedBlank(p_[pos_])) {
        ++pos_;
      } else if (p_[pos_] == '#') {
        while (pos_ < p_.size() && p_[pos_] != '\r' && p_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }

  // Alternatives up to a ')' or the end, which are left unconsumed.
  int ParseAlternation() {
    std::vector<int> alternatives{ParseSequence()};
    while (pos_ < p_.size() && p_[pos_] == '|') {
      ++pos_;
      alternatives.push_back(ParseSequence());
    }
    return Join(NodeKind::kAlternation, std::move(alternatives));
  }

  // One alternative: atoms, each with an optional quantifier, up to '|', ')' or the end.
  int ParseSequence() {
    std::vector<int> items;
    for (;;) {
      SkipExtended();
      if (AtEnd() || p_[pos_] == '|' || p_[pos_] == ')') break;
      const char c = p_[pos_];
      // A quantifier after an atom is taken below, so here it stands first.
      if (c == '*' || c == '+' || c == '?') throw CompileError(kQuantifierFollowsNothing, pos_ + 1);
      int atom = ParseAtom();
      SkipExtended();
      if (QuantifierAt(pos_)) atom = ParseQuantifier(atom);
      items.push_back(atom);
    }
    if (items.empty()) return AddEmpty();
    return Join(NodeKind::kConcat, std::move(items));
  }

  int ParseAtom() {
    const char c = p_[pos_];
    switch (c) {
      case '(':
        return ParseGroup();
      case '[':
        return ParseSet();
      case '\\':
        return ParseEscape();
      case '.': {
        ++pos_;
        ByteSet set;
        set.set();
        if (!mods_.dot_all) {
          set.reset('\r');
          set.reset('\n');
        }
        return AddSet(set);
      }
      case '^':
        ++pos_;
        return AddAssertion(mods_.multi_line ? AssertionKind::kLineStart
                                             : AssertionKind::kTextStart);
      case '$':
        ++pos_;
        return AddAssertion(mods_.multi_line ? AssertionKind::kLineEnd : AssertionKind::kTextEnd);
      default:  // any other byte, '{' that begins no quantifier, ']' and '}' included
        ++pos_;
        return AddLiteral(static_cast<uint8_t>(c));
    }
  }

  // At '(': a capturing group, a comment or a modifier group.
  int ParseGroup() {
    ++pos_;
    if (pos_ < p_.size() && p_[pos_] == '?') {
      if (pos_ + 1 < p_.size() && p_[pos_ + 1] == '#') {
        const size_t close = p_.find(')', pos_ + 2);
        if (close == std::string_view::npos) throw CompileError(kUnclosedComment, p_.size());
        pos_ = close + 1;
        return AddEmpty();
      }
      ParseModifiers();
      return AddEmpty();
    }
    if (tree_.group_count == kMaxGroups) throw CompileError(kTooManyGroups, pos_);
    const int number = ++tree_.group_count;
    const Modifiers outer = mods_;
    const int body = ParseAlternation();
    if (AtEnd()) throw CompileError(kUnmatchedOpenGroup, p_.size());
    ++pos_;         // ')'
    mods_ = outer;  // modifiers changed inside end with the group
    Node node;
    node.kind = NodeKind::kGroup;
    node.children = {body};
    node.group = number;
    return Add(std::move(node));
  }

  // At the '?' of "(?letters)": switches modifiers for the rest of the enclosing group.
  void ParseModifiers() {
    const size_t close = p_.find(')', pos_ + 1);
    if (close == std::string_view::npos) throw CompileError(kUnrecognizedModifier, p_.size());
    Modifiers changed = mods_;
    bool on = true;
    for (size_t k = pos_ + 1; k < close; ++k) {
      switch (p_[k]) {
        case '-':
          on = false;
          break;
        case 'i':
        case 'I':
          changed.case_insensitive = on;
          break;
        case 'r':
        case 'R':
          changed.cyrillic_ranges = on;
          break;
        case 's':
        case 'S':
          changed.dot_all = on;
          break;
        case 'g':
        case 'G':
          changed.greedy = on;
          break;
        case 'm':
        case 'M':
          changed.multi_line = on;
          break;
        case 'x':
        case 'X':
          changed.extended = on;
          break;
        default:
          throw CompileError(kUnrecognizedModifier, close);
      }
    }
    mods_ = changed;
    pos_ = close + 1;
  }

  // At '\' outside a set.
  int ParseEscape() {
    const size_t at = pos_ + 1;
    if (at >= p_.size()) throw CompileError(kTrailingBackslash, p_.size());
    const char c = p_[at];
    pos_ = at + 1;
    if (c >= '1' && c <= '9') {
      Node node;
      node.kind = NodeKind::kBackReference;
      node.group = c - '0';
      node.case_insensitive = mods_.case_insensitive;
      tree_.has_back_references = true;
      return Add(std::move(node));
    }
    const EscapeLetter* escape = FindEscape(c);
    if (escape == nullptr) return AddLiteral(static_cast<uint8_t>(c));
    switch (escape->kind) {
      case EscapeKind::kByte:
        return AddLiteral(escape->byte);
      case EscapeKind::kClass:
        return AddSet(escape->members());
      case EscapeKind::kNegatedClass:
        return AddSet(~escape->members());
      case EscapeKind::kAssertion:
        return AddAssertion(escape->assertion);
      case EscapeKind::kHexCode: {
        size_t k = at;
        const uint8_t byte = ParseHexCode(k);
        pos_ = k;
        return AddLiteral(byte);
      }
    }
    return AddLiteral(static_cast<uint8_t>(c));
  }

  // `k` at the 'x' of "\xHH" or "\x{...}"; leaves `k` after the code and returns its byte.
  uint8_t ParseHexCode(size_t& k) const {
    ++k;
    if (k < p_.size() && p_[k] == '{') {
      ++k;
      unsigned value = 0;
      for (;;) {
        if (k >= p_.size()) throw CompileError(kNoHexCode, p_.size());
        if (p_[k] == '}') break;
        const int digit = HexValue(p_[k]);
        if (digit < 0) throw CompileError(kBadHexDigit, k);
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > 255) throw CompileError(kHexCodeTooBig, k);
        ++k;
      }
      ++k;  // '}'
      return static_cast<uint8_t>(value);
    }
    unsigned value = 0;
    for (int i = 0; i < 2; ++i, ++k) {
      if (k >= p_.size()) throw CompileError(kNoHexCode, p_.size());
      const int digit = HexValue(p_[k]);
      if (digit < 0) throw CompileError(kBadHexDigit, k);
      value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint8_t>(value);
  }

  bool ClassEscapeAt(size_t k) const {
    return k + 1 < p_.size() && p_[k] == '\\' && IsClassLetter(p_[k + 1]);
  }

  // One member of a set at `k`, which is left after it.
  SetElement ReadSetElement(size_t& k) const {
    SetElement element;
    const char c = p_[k];
    if (c != '\\') {
      element.byte = static_cast<uint8_t>(c);
      ++k;
      return element;
    }
    if (k + 1 >= p_.size()) throw CompileError(kSetTrailingBackslash, p_.size());
    const char e = p_[k + 1];
    k += 2;
    // \D \W \S \b, the digits and any other letter stand for that byte.
    element.byte = static_cast<uint8_t>(e);
    const EscapeLetter* escape = FindEscape(e);
    if (escape == nullptr) return element;
    if (escape->kind == EscapeKind::kByte) element.byte = escape->byte;
    if (escape->kind == EscapeKind::kClass) {
      element.is_class = true;
      element.members = escape->members();
    }
    if (escape->kind == EscapeKind::kHexCode) {
      k -= 1;
      element.byte = ParseHexCode(k);
    }
    return element;
  }

  // Adds the range first..last; `last_position` is where its end element begins.
  void AddRange(ByteSet& set, uint8_t first, uint8_t last, size_t last_position) const {
    if (mods_.cyrillic_ranges) {
      if (first == 0xE0 && last == 0xFF) {
        set |= CyrillicLower();
        return;
      }
      if (first == 0xC0 && last == 0xDF) {
        set |= CyrillicUpper();
        return;
      }
      if (first == 0xE0 && last == 0xDF) {
        set |= CyrillicLower() | CyrillicUpper();
        return;
      }
    }
    if (last < first) throw CompileError(kInvalidSetRange, last_position);
    set |= RangeSet(first, last);
  }

  // At '[': a set, folded for i and then negated for "[^".
  int ParseSet() {
    size_t k = pos_ + 1;
    bool negated = false;
    if (k < p_.size() && p_[k] == '^') {
      negated = true;
      ++k;
    }
    ByteSet set;
    for (bool first = true;; first = false) {
      if (k >= p_.size()) throw CompileError(kUnmatchedSet, p_.size());
      if (p_[k] == ']' && !first) {
        ++k;
        break;
      }
      const SetElement element = ReadSetElement(k);
      if (element.is_class) {
        set |= element.members;
        continue;
      }
      // A '-' forms a range unless it stands last or before a class escape.
      const bool range =
          k + 1 < p_.size() && p_[k] == '-' && p_[k + 1] != ']' && !ClassEscapeAt(k + 1);
      if (!range) {
        set.set(element.byte);
        continue;
      }
      ++k;
      const size_t last_position = k;
      const SetElement last = ReadSetElement(k);
      AddRange(set, element.byte, last.byte, last_position);
    }
    pos_ = k;
    if (mods_.case_insensitive) set = FoldCase(set);
    if (negated) set.flip();
    return AddSet(set);
  }

  // Whether a complete "{n}", "{n,}" or "{n,m}" starts at `at`; fills `form` when it does.
  bool BraceFormAt(size_t at, BraceForm* form) const {
    if (at >= p_.size() || p_[at] != '{') return false;
    BraceForm f;
    size_t k = at + 1;
    f.min_begin = k;
    while (k < p_.size() && IsDigit(p_[k])) ++k;
    if (k == f.min_begin || k >= p_.size()) return false;
    f.min_end = k;
    if (p_[k] == ',') {
      f.has_comma = true;
      f.max_begin = ++k;
      while (k < p_.size() && IsDigit(p_[k])) ++k;
      f.max_end = k;
      if (k >= p_.size()) return false;
    }
    if (p_[k] != '}') return false;
    f.close = k;
    if (form != nullptr) *form = f;
    return true;
  }

  bool QuantifierAt(size_t at) const {
    if (at >= p_.size()) return false;
    const char c = p_[at];
    return c == '*' || c == '+' || c == '?' || BraceFormAt(at, nullptr);
  }

  uint32_t BraceNumber(size_t begin, size_t end) const {
    if (end - begin > kMaxBraceDigits) throw CompileError(kBraceArgumentTooBig, end);
    uint32_t value = 0;
    for (size_t k = begin; k < end; ++k) value = value * 10 + static_cast<uint32_t>(p_[k] - '0');
    return value;
  }

  // At a quantifier after `operand`: the repetition, its lazy '?', and the check that no
  // second quantifier follows.
  int ParseQuantifier(int operand) {
    const size_t at = pos_;
    const char c = p_[at];
    Node node;
    node.kind = NodeKind::kRepeat;
    node.children = {operand};
    BraceForm brace;
    const bool is_brace = c == '{';
    if (is_brace) BraceFormAt(at, &brace);
    if (c != '?' && CanMatchEmpty(tree_, operand)) throw CompileError(kOperandCouldBeEmpty, at);
    if (c == '*') {
      node.min = 0;
      node.max = kInfinite;
      ++pos_;
    } else if (c == '+') {
      node.min = 1;
      node.max = kInfinite;
      ++pos_;
    } else if (c == '?') {
      node.min = 0;
      node.max = 1;
      ++pos_;
    } else {
      node.min = BraceNumber(brace.min_begin, brace.min_end);
      node.max = node.min;
      if (brace.has_comma) {
        node.max = brace.max_begin == brace.max_end ? kInfinite
                                                    : BraceNumber(brace.max_begin, brace.max_end);
        if (node.max < node.min) throw CompileError(kBraceMinAboveMax, brace.close);
      }
      pos_ = brace.close + 1;
    }
    SkipExtended();
    bool lazy_marker = false;
    if (pos_ < p_.size() && p_[pos_] == '?') {
      lazy_marker = true;
      ++pos_;
    }
    node.greedy = mods_.greedy && !lazy_marker;
    node.is_loop = tree_.nodes[operand].kind == NodeKind::kGroup && (is_brace || !node.greedy);
    SkipExtended();
    if (QuantifierAt(pos_)) throw CompileError(kNestedQuantifier, pos_);
    return Add(std::move(node));
  }

  // Parents come after their children, so one pass from the root down gives each loop the
  // number of loops around it.
  void FillLoopDepths() {
    std::vector<int> loops_around(tree_.nodes.size(), 0);
    for (int i = static_cast<int>(tree_.nodes.size()) - 1; i >= 0; --i) {
      Node& node = tree_.nodes[i];
      int inside = loops_around[i];
      if (node.is_loop) {
        node.loop_depth = ++inside;
        if (inside > tree_.max_loop_depth) tree_.max_loop_depth = inside;
      }
      for (int child : node.children) loops_around[child] = inside;
    }
  }

  std::string_view p_;
  size_t pos_ = 0;
  Modifiers mods_;
  SyntaxTree tree_;
};

}  // namespace

SyntaxTree Parse(std::string_view pattern) {
  const size_t zero = pattern.find('\0');
  if (zero != std::string_view::npos) pattern = pattern.substr(0, zero);
  return Parser(pattern).Run();
}

bool CanMatchEmpty(const SyntaxTree& tree, int node) {
  const Node& n = tree.nodes[node];
  switch (n.kind) {
    case NodeKind::kEmpty:
    case NodeKind::kAssertion:
      return true;
    case NodeKind::kByteSet:
      return false;
    case NodeKind::kGroup:
      return CanMatchEmpty(tree, n.children[0]);
    case NodeKind::kConcat:
      for (int child : n.children) {
        if (!CanMatchEmpty(tree, child)) return false;
      }
      return true;
    case NodeKind::kAlternation:
      for (int child : n.children) {
        if (CanMatchEmpty(tree, child)) return true;
      }
      return false;
    case NodeKind::kRepeat:
      return n.min == 0 || CanMatchEmpty(tree, n.children[0]);
    case NodeKind::kBackReference:
      // A group's node is added at its ')': a lower index means it closed before this point.
      for (int i = 0; i < node; ++i) {
        const Node& g = tree.nodes[i];
        if (g.kind == NodeKind::kGroup && g.group == n.group) return CanMatchEmpty(tree, i);
      }
      return false;
  }
  return false;
}

}  // namespace veskor::regexp
