// The compiler of the filter's expressions: a syntax tree to the one program both executors
// run, with what a search needs to know of it before it starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

enum class Op : uint8_t {
  kByteSet,        // one byte of sets[arg]
  kAnyByte,        // any one byte (sets[arg] holds them all)
  kAssert,         // the zero-width test `assertion`
  kGroupOpen,      // group `arg` starts here (not yet visible to backreferences)
  kGroupClose,     // group `arg` has captured from its open position to here
  kBackReference,  // the text group `arg` last captured; without regard to case when `flag`
  kSplit,          // go on at `target`, and (failing that, or beside it) at `alt`
  kJump,           // go on at `target`
  kRepeatEnter,    // loop `arg` starts with no iteration done
  kRepeatTest,     // loop `arg`: one more iteration (the next instruction) or leave to `target`
  kRepeatBody,     // loop `arg`: an iteration begins at this position
  kRepeatNext,     // loop `arg`: an iteration ended; count it and go back to the test `target`
  kByteRepeat,     // sets[arg] repeated `min` to `max` times, greedy when `flag`
  kLoopTooDeep,    // entering a loop beyond the nesting limit: the search raises
  kFail,           // never matches
  kMatch,          // success
};

struct Inst {
  Op op = Op::kFail;
  // kBackReference: caseless; kRepeatTest, kByteRepeat: greedy; kRepeatNext: the body can
  // match empty, so that an empty iteration has to be refused.
  bool flag = false;
  AssertionKind assertion = AssertionKind::kTextStart;  // kAssert
  int32_t arg = 0;      // a set, group or loop number, as the op says
  int32_t target = 0;   // relative to the instruction while compiling, absolute afterwards
  int32_t alt = 0;      // likewise
  uint32_t min = 0;     // kRepeatTest, kRepeatNext, kByteRepeat
  uint32_t max = 0;     // kRepeatTest, kByteRepeat; kInfinite for no upper bound
  int32_t memo = -1;    // a join point: its index in Program::joins
  int32_t repeat = -1;  // kByteRepeat: its number among the program's byte repetitions
};

// Groups 1 to 14 may capture; slot 0 is unused.
inline constexpr int kGroupSlots = 15;

// Registers of a search that backtracks: per group slot its capture start, capture end and
// pending open position; per loop its iteration count and where its current iteration began.
constexpr int CaptureStart(int group) { return 3 * group; }
constexpr int CaptureEnd(int group) { return 3 * group + 1; }
constexpr int GroupOpenAt(int group) { return 3 * group + 2; }
constexpr int LoopCount(int loop) { return 3 * kGroupSlots + 2 * loop; }
constexpr int LoopIterationStart(int loop) { return 3 * kGroupSlots + 2 * loop + 1; }

// An instruction where paths of the search join: the target of a jump or a choice, or what
// follows a byte repetition. The registers live there complete the keys of its states.
struct JoinPoint {
  std::vector<int32_t> live;
  int32_t bit_row = -1;  // when nothing is live: its row in a table of (row, position) bits
};

// How repetitions that have to be counted, or whose body can match empty, are laid out.
enum class Loops {
  // Copies of the body, each optional one behind a choice: for an executor whose threads hold
  // no registers and that meets each (instruction, position) once. '*', '+' and '?' of a single
  // byte set stay choices too, which that executor runs faster than a count.
  kUnrolled,
  // Loops over count registers, with a guard against empty iterations: a program as small as
  // the tree, for the backtracking executor.
  kCounted,
};

struct Program {
  std::vector<Inst> code;  // from 0; the last instruction is the one kMatch
  std::vector<ByteSet> sets;
  int loop_count = 0;         // loops over registers
  int byte_repeat_count = 0;  // kByteRepeat instructions
  int used_group_slots = 1;   // the capture slots a search resets: 0 to the highest captured
  ByteSet first_bytes;        // the bytes a match can begin with (assertions taken as passed)
  // A match may end without consuming a byte, or the search may raise before it consumes one.
  bool may_be_empty = true;
  bool anchored = false;         // every match begins with the text-start test
  std::vector<JoinPoint> joins;  // kCounted only
  int32_t bit_rows = 0;          // join points where nothing is live

  int RegisterCount() const { return LoopCount(loop_count); }
};

// Compiles the tree; nullopt when the program would take more than `max_instructions`
// instructions (the final kMatch included).
std::optional<Program> Compile(const SyntaxTree& tree, Loops loops,
                               size_t max_instructions = std::numeric_limits<size_t>::max());

}  // namespace veskor::regexp
