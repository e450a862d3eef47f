// The compiler on parsed patterns: what a search learns before it starts, the automaton's size
// cap and its byte repetitions, and the registers live at the backtracker's join points.
#include "engine/regexp/compiler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/regexp/parser.h"

namespace veskor::regexp {
namespace {

std::string Members(const ByteSet& set) {
  if (set.all()) return "(all)";
  std::string members;
  for (int b = 0; b < 256; ++b) {
    if (set[b]) members += static_cast<char>(b);
  }
  return members;
}

// Both layouts of the loops must tell the same about the start of a match.
TEST(Compiler, StartOfAMatch) {
  struct Case {
    const char* pattern;
    bool anchored;
    bool may_be_empty;
    const char* first_bytes;
  } cases[] = {
      {"^ab|^c", true, false, "ac"},
      {"^ab|c", false, false, "ac"},
      {"(?m)^a", false, false, "a"},
      {"\\ba?b", false, false, "ab"},  // assertions are taken as passed
      {"(ab){0,2}c", false, false, "ac"},
      {"(ab){2,3}", false, false, "a"},
      {"[ab]{0,2}c", false, false, "abc"},
      {"[ab]{2,}c", false, false, "ab"},
      {"x*", false, true, "x"},
      {"(?i)k", false, false, "Kk"},
      {"a.", false, false, "a"},
      {".", false, false, "(all)"},
  };
  for (const Case& c : cases) {
    for (Loops loops : {Loops::kUnrolled, Loops::kCounted}) {
      const Program program = *Compile(Parse(c.pattern), loops);
      const auto what = std::string(c.pattern) + (loops == Loops::kCounted ? " counted" : "");
      EXPECT_EQ(program.anchored, c.anchored) << what;
      EXPECT_EQ(program.may_be_empty, c.may_be_empty) << what;
      EXPECT_EQ(Members(program.first_bytes), c.first_bytes) << what;
    }
  }
  // A loop nested too deep raises before any byte: no start may be skipped.
  std::string deep = "a";
  for (int level = 0; level <= kMaxLoopDepth; ++level) deep = "(" + deep + "){1}";
  EXPECT_TRUE(Compile(Parse(deep), Loops::kCounted)->may_be_empty);
}

TEST(Compiler, UnrolledProgramsAndTheirCap) {
  struct Case {
    const char* pattern;
    size_t cap;
    bool fits;
  } cases[] = {
      {"(ab){3}", 7, true},  // six byte tests and the match
      {"(ab){3}", 6, false},
      {"((ab){3})", 7, true},  // a group that captures nothing adds nothing
      {"(ab){0,2}", 7, true},  // a choice before each copy
      {"(ab){0,2}", 6, false},
      {"(ab){99999999}", 20000, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Compile(Parse(c.pattern), Loops::kUnrolled, c.cap).has_value(), c.fits)
        << c.pattern << " in " << c.cap;
  }
  // Each copy of a counted byte set keeps its own count.
  const Program copies = *Compile(Parse("((a){2,}b){3}"), Loops::kUnrolled);
  std::vector<int32_t> numbers;
  for (const Inst& in : copies.code) {
    if (in.op == Op::kByteRepeat) numbers.push_back(in.repeat);
  }
  EXPECT_EQ(numbers, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(copies.byte_repeat_count, 3);
}

// The registers at each join point: only those that some path from there reads first.
TEST(Compiler, RegistersLiveAtJoinPoints) {
  struct Case {
    const char* pattern;
    std::vector<std::vector<int32_t>> live;  // per join point, in program order
  } cases[] = {
      // The open position is read when the group closes; the capture is written before \1.
      {"(a|b)\\1", {{GroupOpenAt(1)}, {GroupOpenAt(1)}, {GroupOpenAt(1)}}},
      // A group nothing refers to captures nothing.
      {"(a|b)c", {{}, {}, {}}},
      // In the loop its count; after it, nothing.
      {"(ab){2,3}c", {{LoopCount(0)}, {LoopCount(0)}, {}}},
  };
  for (const Case& c : cases) {
    const Program program = *Compile(Parse(c.pattern), Loops::kCounted);
    std::vector<std::vector<int32_t>> live;
    for (const Inst& in : program.code) {
      if (in.memo < 0) continue;
      const JoinPoint& join = program.joins[in.memo];
      live.push_back(join.live);
      EXPECT_EQ(join.bit_row >= 0, join.live.empty()) << c.pattern;
    }
    EXPECT_EQ(live, c.live) << c.pattern;
  }
}

}  // namespace
}  // namespace veskor::regexp
