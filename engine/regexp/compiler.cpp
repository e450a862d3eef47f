// The compiler: every node of the tree, children first, gets a code fragment whose jump targets
// are relative, so that fragments can be joined as they are; the root's fragment and a kMatch
// make the program. Then the program is read for what a search needs before it starts: the
// bytes a match can begin with, the anchoring, and (for loops over registers) the join points
// with the registers live there.
#include "engine/regexp/compiler.h"

#include <algorithm>
#include <array>
#include <utility>

#include "text/arithmetic.h"

namespace veskor::regexp {
namespace {

using Code = std::vector<Inst>;

Inst Make(Op op, int32_t arg = 0) {
  Inst inst;
  inst.op = op;
  inst.arg = arg;
  return inst;
}

void Append(Code& to, const Code& from) { to.insert(to.end(), from.begin(), from.end()); }

// A choice between going on into a repetition's body (`body`, relative) and past it (`past`):
// the body first when `greedy`.
Inst Choice(bool greedy, int32_t body, int32_t past) {
  Inst split = Make(Op::kSplit);
  split.target = greedy ? body : past;
  split.alt = greedy ? past : body;
  return split;
}

// The instructions of `n` to `m` copies of a body of `s` instructions, as Unroll lays them out.
uint64_t UnrolledSize(uint64_t n, uint32_t m, uint64_t s) {
  if (s == 0) return 0;
  if (m == kInfinite) return n == 0 ? s + 2 : n * s + 1;
  return n * s + (m - n) * (s + 1);
}

class Compiler {
 public:
  Compiler(const SyntaxTree& tree, Loops loops, size_t max_instructions)
      : tree_(tree), loops_(loops), max_instructions_(max_instructions) {}

  std::optional<Program> Run();

 private:
  // Fragments of up to max_instructions_ - 1 instructions leave room for the kMatch. Every
  // fragment is at most as long as the root's, so one over the cap means the program is.
  bool Fits(uint64_t size) const { return size < max_instructions_; }

  bool Build(int n);
  bool BuildConcat(const Node& node, Code& code);
  bool BuildAlternation(const Node& node, Code& code);
  bool BuildRepeat(const Node& node, Code& code, bool& passable);
  bool Unroll(const Code& body, const Node& node, Code& code) const;
  void CountedLoop(const Code& body, bool body_passable, const Node& node, Code& code);
  void AddByteTest(const ByteSet& set, Code& code);
  void AddBackReference(const Node& node, Code& code, bool& passable) const;
  int ByteSetUnder(int n) const;
  bool Captures(int group) const { return group >= 1 && group < kGroupSlots && captured_[group]; }

  const Code& ChildCode(const Node& node, size_t i) const {
    static const Code kNothing;
    const int child = ChildAt(tree_, node, i);
    return child >= 0 ? code_[child] : kNothing;
  }
  // A missing child matches the empty text.
  bool ChildPassable(const Node& node, size_t i) const {
    const int child = ChildAt(tree_, node, i);
    return child < 0 || passable_[child];
  }

  const SyntaxTree& tree_;
  const Loops loops_;
  const size_t max_instructions_;
  Program program_;
  std::vector<Code> code_;                    // per node: its fragment
  std::vector<char> passable_;                // per node: it can be passed without consuming a byte
  std::array<bool, kGroupSlots> defined_{};   // the groups the tree defines
  std::array<bool, kGroupSlots> captured_{};  // those that a backreference reads
};

// The byte set node that the repetition body `n` comes down to through single-child sequences
// and groups that capture nothing, or -1: such a repetition is one counting instruction.
int Compiler::ByteSetUnder(int n) const {
  while (n >= 0) {
    const Node& node = tree_.nodes[n];
    if (node.kind == NodeKind::kByteSet) return n;
    const bool wrapper = (node.kind == NodeKind::kConcat && node.children.size() == 1) ||
                         (node.kind == NodeKind::kGroup && !Captures(node.group));
    if (!wrapper) return -1;
    n = ChildAt(tree_, node, 0);
  }
  return -1;
}

// A test of every byte is kAnyByte, which the backtracking executor runs without a look at
// the set; its set is kept all the same, so that the automaton can test both ops alike.
void Compiler::AddByteTest(const ByteSet& set, Code& code) {
  program_.sets.push_back(set);
  const Op op = set.all() ? Op::kAnyByte : Op::kByteSet;
  code.push_back(Make(op, static_cast<int32_t>(program_.sets.size() - 1)));
}

// A reference to a group the tree does not define never matches.
void Compiler::AddBackReference(const Node& node, Code& code, bool& passable) const {
  passable = node.group >= 1 && node.group < kGroupSlots && defined_[node.group];
  if (!passable) {
    code.push_back(Make(Op::kFail));
    return;
  }
  Inst inst = Make(Op::kBackReference, node.group);
  inst.flag = node.case_insensitive;
  code.push_back(inst);
}

bool Compiler::BuildConcat(const Node& node, Code& code) {
  uint64_t size = 0;
  for (size_t i = 0; i < node.children.size(); ++i) size += ChildCode(node, i).size();
  if (!Fits(size)) return false;
  for (size_t i = 0; i < node.children.size(); ++i) Append(code, ChildCode(node, i));
  return true;
}

// split (first, next split); first; jump to the end; ...; last.
bool Compiler::BuildAlternation(const Node& node, Code& code) {
  const size_t k = node.children.size();
  uint64_t size = k == 0 ? 0 : 2 * (k - 1);
  for (size_t i = 0; i < k; ++i) size += ChildCode(node, i).size();
  if (!Fits(size)) return false;
  std::vector<size_t> jumps;
  for (size_t i = 0; i + 1 < k; ++i) {
    const Code& alternative = ChildCode(node, i);
    Inst split = Make(Op::kSplit);
    split.target = 1;
    split.alt = static_cast<int32_t>(alternative.size()) + 2;
    code.push_back(split);
    Append(code, alternative);
    jumps.push_back(code.size());
    code.push_back(Make(Op::kJump));
  }
  if (k > 0) Append(code, ChildCode(node, k - 1));
  for (size_t j : jumps) code[j].target = static_cast<int32_t>(code.size() - j);
  return true;
}

// n copies of the body, then: unbounded, a choice to go back into the last copy (n > 0) or a
// loop of choices (n == 0); bounded, m - n copies, each behind a choice to leave to the end.
bool Compiler::Unroll(const Code& body, const Node& node, Code& code) const {
  const int32_t s = static_cast<int32_t>(body.size());
  if (!Fits(UnrolledSize(node.min, node.max, body.size()))) return false;
  if (s == 0) return true;
  for (uint32_t i = 0; i < node.min; ++i) Append(code, body);
  if (node.max == kInfinite) {
    if (node.min > 0) {
      code.push_back(Choice(node.greedy, -s, 1));
      return true;
    }
    code.push_back(Choice(node.greedy, 1, s + 2));
    Append(code, body);
    Inst jump = Make(Op::kJump);
    jump.target = -(s + 1);
    code.push_back(jump);
    return true;
  }
  for (uint32_t i = node.min; i < node.max; ++i) {
    code.push_back(Choice(node.greedy, 1, static_cast<int32_t>(node.max - i) * (s + 1)));
    Append(code, body);
  }
  return true;
}

// enter; test (leave past the end); [iteration mark]; body; next (back to the test). The mark
// and the empty-iteration guard are only needed when the body can match empty.
void Compiler::CountedLoop(const Code& body, bool body_passable, const Node& node, Code& code) {
  const int32_t s = static_cast<int32_t>(body.size());
  const int32_t loop = program_.loop_count++;
  const int32_t mark = body_passable ? 1 : 0;
  code.push_back(Make(Op::kRepeatEnter, loop));
  Inst test = Make(Op::kRepeatTest, loop);
  test.min = node.min;
  test.max = node.max;
  test.flag = node.greedy;
  test.target = s + mark + 2;
  code.push_back(test);
  if (mark) code.push_back(Make(Op::kRepeatBody, loop));
  Append(code, body);
  Inst next = Make(Op::kRepeatNext, loop);
  next.min = node.min;
  next.flag = body_passable;
  next.target = -(s + mark + 1);
  code.push_back(next);
}

bool Compiler::BuildRepeat(const Node& node, Code& code, bool& passable) {
  passable = true;
  if (IsTooDeepLoop(node)) {
    code.push_back(Make(Op::kLoopTooDeep));  // the search stops here, whatever could follow
    return true;
  }
  if (node.min > node.max) {
    passable = false;
    code.push_back(Make(Op::kFail));
    return true;
  }
  if (node.max == 0) return true;
  const bool body_passable = ChildPassable(node, 0);
  passable = node.min == 0 || body_passable;
  // '?' and {1}, and '*' and '+' of a body that always consumes, can be plain choices.
  const bool plain = node.min <= 1 && (node.max == 1 || (node.max == kInfinite && !body_passable));
  const int set = ByteSetUnder(ChildAt(tree_, node, 0));
  // A byte set repeated is counted in place, by one instruction; the automaton runs the plain
  // forms faster as choices.
  if (set >= 0 && (loops_ == Loops::kCounted || !plain)) {
    program_.sets.push_back(tree_.nodes[set].set);
    Inst inst = Make(Op::kByteRepeat, static_cast<int32_t>(program_.sets.size() - 1));
    inst.min = node.min;
    inst.max = node.max;
    inst.flag = node.greedy;
    code.push_back(inst);
    return true;
  }
  const Code& body = ChildCode(node, 0);
  if (loops_ == Loops::kUnrolled || plain) return Unroll(body, node, code);
  if (!Fits(body.size() + (body_passable ? 4 : 3))) return false;
  CountedLoop(body, body_passable, node, code);
  return true;
}

bool Compiler::Build(int n) {
  const Node& node = tree_.nodes[n];
  Code& code = code_[n];
  bool passable = true;
  switch (node.kind) {
    case NodeKind::kEmpty:
      break;
    case NodeKind::kByteSet:
      passable = false;
      AddByteTest(node.set, code);
      break;
    case NodeKind::kAssertion:
      code.push_back(Make(Op::kAssert));
      code.back().assertion = node.assertion;
      break;
    case NodeKind::kGroup: {
      const Code& child = ChildCode(node, 0);
      const bool captures = Captures(node.group);
      passable = ChildPassable(node, 0);
      if (!Fits(child.size() + (captures ? 2 : 0))) return false;
      if (captures) code.push_back(Make(Op::kGroupOpen, node.group));
      Append(code, child);
      if (captures) code.push_back(Make(Op::kGroupClose, node.group));
      break;
    }
    case NodeKind::kConcat:
      for (size_t i = 0; i < node.children.size(); ++i) {
        passable = passable && ChildPassable(node, i);
      }
      if (!BuildConcat(node, code)) return false;
      break;
    case NodeKind::kAlternation:
      passable = node.children.empty();
      for (size_t i = 0; i < node.children.size(); ++i) {
        passable = passable || ChildPassable(node, i);
      }
      if (!BuildAlternation(node, code)) return false;
      break;
    case NodeKind::kRepeat:
      if (!BuildRepeat(node, code, passable)) return false;
      break;
    case NodeKind::kBackReference:
      AddBackReference(node, code, passable);
      break;
  }
  passable_[n] = passable;
  return true;
}

// The instructions a search can go on at after `in` at `pc`, -1 for none; the registers it
// reads and writes, -1 for none.
struct Effects {
  std::array<int32_t, 2> reads{-1, -1};
  std::array<int32_t, 2> writes{-1, -1};
  std::array<int32_t, 2> next{-1, -1};
};

Effects EffectsOf(const Inst& in, int32_t pc) {
  Effects e;
  e.next[0] = pc + 1;
  switch (in.op) {
    case Op::kByteSet:
    case Op::kAnyByte:
    case Op::kAssert:
    case Op::kByteRepeat:
      break;
    case Op::kGroupOpen:
      e.writes[0] = GroupOpenAt(in.arg);
      break;
    case Op::kGroupClose:
      e.reads[0] = GroupOpenAt(in.arg);
      e.writes = {CaptureStart(in.arg), CaptureEnd(in.arg)};
      break;
    case Op::kBackReference:
      e.reads = {CaptureStart(in.arg), CaptureEnd(in.arg)};
      break;
    case Op::kSplit:
      e.next = {in.target, in.alt};
      break;
    case Op::kJump:
      e.next[0] = in.target;
      break;
    case Op::kRepeatEnter:
      e.writes[0] = LoopCount(in.arg);
      break;
    case Op::kRepeatTest:
      e.reads[0] = LoopCount(in.arg);
      e.next[1] = in.target;
      break;
    case Op::kRepeatBody:
      e.writes[0] = LoopIterationStart(in.arg);
      break;
    case Op::kRepeatNext:
      // Reads the count before it writes it, so the count stays live.
      e.reads = {LoopCount(in.arg), in.flag ? LoopIterationStart(in.arg) : -1};
      e.next[0] = in.target;
      break;
    case Op::kLoopTooDeep:
    case Op::kFail:
    case Op::kMatch:
      e.next[0] = -1;
      break;
  }
  return e;
}

// Calls visit(pc, stack) once for each instruction that the walk reaches from the start; the
// visit pushes on `stack` the instructions the walk goes on at, and returns false to end it.
template <typename Visit>
void WalkFromStart(const Code& code, Visit visit) {
  std::vector<char> seen(code.size(), 0);
  std::vector<int32_t> stack{0};
  while (!stack.empty()) {
    const int32_t pc = stack.back();
    stack.pop_back();
    if (pc < 0 || static_cast<size_t>(pc) >= code.size() || seen[pc]) continue;
    seen[pc] = 1;
    if (!visit(pc, stack)) return;
  }
}

void PushNext(const Inst& in, int32_t pc, std::vector<int32_t>& stack) {
  for (int32_t next : EffectsOf(in, pc).next) stack.push_back(next);
}

// Whether every path from the start meets the text-start test before it consumes a byte,
// matches, or raises.
bool IsAnchored(const Code& code) {
  bool anchored = true;
  WalkFromStart(code, [&](int32_t pc, std::vector<int32_t>& stack) {
    const Inst& in = code[pc];
    switch (in.op) {
      case Op::kAssert:
        if (in.assertion != AssertionKind::kTextStart) PushNext(in, pc, stack);
        return true;
      case Op::kByteSet:
      case Op::kAnyByte:
      case Op::kByteRepeat:
      case Op::kBackReference:
      case Op::kLoopTooDeep:
      case Op::kMatch:
        anchored = false;
        return false;
      default:
        PushNext(in, pc, stack);
        return true;
    }
  });
  return anchored;
}

// The bytes a match can begin with, and whether one can end (or the search raise) before any
// byte is consumed. Assertions are taken as passed, which only widens the set.
void FindFirstBytes(Program& program) {
  const Code& code = program.code;
  program.first_bytes.reset();
  program.may_be_empty = false;
  WalkFromStart(code, [&](int32_t pc, std::vector<int32_t>& stack) {
    const Inst& in = code[pc];
    switch (in.op) {
      case Op::kByteSet:
      case Op::kAnyByte:
        program.first_bytes |= program.sets[in.arg];
        break;
      case Op::kByteRepeat:
        program.first_bytes |= program.sets[in.arg];
        if (in.min == 0) stack.push_back(pc + 1);
        break;
      case Op::kBackReference:  // it may capture nothing, or text that begins with any byte
        program.first_bytes.set();
        stack.push_back(pc + 1);
        break;
      case Op::kLoopTooDeep:
        program.first_bytes.set();
        program.may_be_empty = true;
        break;
      case Op::kMatch:
        program.may_be_empty = true;
        break;
      case Op::kRepeatTest:  // entered with no iteration done
        stack.push_back(pc + 1);
        if (in.min == 0) stack.push_back(in.target);
        break;
      case Op::kRepeatNext:  // reached without consuming: the body can be passed min times
        stack.push_back(in.target);
        stack.push_back(code[in.target].target);
        break;
      default:
        PushNext(in, pc, stack);
        break;
    }
    return true;
  });
}

// For each instruction, the registers that some path from there reads before it writes them;
// `words` 64-bit words per instruction. Backwards until nothing changes: loops need a few
// rounds.
std::vector<uint64_t> LiveRegisters(const Code& code, size_t words) {
  const int32_t size = static_cast<int32_t>(code.size());
  std::vector<uint64_t> live(code.size() * words, 0);
  std::vector<uint64_t> set(words);
  auto set_bit = [&](int32_t reg, bool on) {
    if (reg < 0) return;
    const uint64_t mask = uint64_t{1} << (reg & 63);
    set[reg >> 6] = on ? set[reg >> 6] | mask : set[reg >> 6] & ~mask;
  };
  for (bool changed = true; changed;) {
    changed = false;
    for (int32_t pc = size - 1; pc >= 0; --pc) {
      const Effects e = EffectsOf(code[pc], pc);
      std::fill(set.begin(), set.end(), 0);
      for (int32_t next : e.next) {
        if (next < 0 || next >= size) continue;
        for (size_t w = 0; w < words; ++w) set[w] |= live[next * words + w];
      }
      for (int32_t reg : e.writes) set_bit(reg, false);
      for (int32_t reg : e.reads) set_bit(reg, true);
      if (!std::equal(set.begin(), set.end(), live.begin() + pc * words)) {
        std::copy(set.begin(), set.end(), live.begin() + pc * words);
        changed = true;
      }
    }
  }
  return live;
}

// Finds the join points of the program, the targets of its jumps and choices and what follows
// a byte repetition, with the registers live at each.
void FindJoinPoints(Program& program) {
  Code& code = program.code;
  const int32_t size = static_cast<int32_t>(code.size());
  const int registers = program.RegisterCount();
  const size_t words = CeilDiv(static_cast<size_t>(registers), 64);
  const std::vector<uint64_t> live = LiveRegisters(code, words);
  std::vector<char> joined(code.size(), 0);
  for (int32_t pc = 0; pc < size; ++pc) {
    const Op op = code[pc].op;
    const bool branches = op == Op::kSplit || op == Op::kJump || op == Op::kRepeatTest ||
                          op == Op::kRepeatNext || op == Op::kByteRepeat;
    if (!branches) continue;
    for (int32_t next : EffectsOf(code[pc], pc).next) {
      if (next >= 0 && next < size) joined[next] = 1;
    }
  }
  for (int32_t pc = 0; pc < size; ++pc) {
    // Reaching these ends the search (or the attempt) at once: nothing to remember.
    const Op op = code[pc].op;
    if (!joined[pc] || op == Op::kMatch || op == Op::kFail || op == Op::kLoopTooDeep) continue;
    JoinPoint join;
    for (int32_t reg = 0; reg < registers; ++reg) {
      if ((live[pc * words + (reg >> 6)] >> (reg & 63)) & 1) join.live.push_back(reg);
    }
    if (join.live.empty()) join.bit_row = program.bit_rows++;
    code[pc].memo = static_cast<int32_t>(program.joins.size());
    program.joins.push_back(std::move(join));
  }
}

// Makes relative targets absolute, and numbers the byte repetitions (an unrolled loop holds
// copies of the same one).
void Finish(Program& program) {
  Code& code = program.code;
  for (size_t i = 0; i < code.size(); ++i) {
    Inst& inst = code[i];
    switch (inst.op) {
      case Op::kByteRepeat:
        inst.repeat = program.byte_repeat_count++;
        break;
      case Op::kSplit:
        inst.alt += static_cast<int32_t>(i);
        [[fallthrough]];
      case Op::kJump:
      case Op::kRepeatTest:
      case Op::kRepeatNext:
        inst.target += static_cast<int32_t>(i);
        break;
      default:
        break;
    }
  }
}

std::optional<Program> Compiler::Run() {
  for (const Node& node : tree_.nodes) {
    if (node.kind == NodeKind::kGroup && node.group >= 1 && node.group < kGroupSlots) {
      defined_[node.group] = true;
    }
    if (node.kind == NodeKind::kBackReference && node.group >= 1 && node.group < kGroupSlots) {
      captured_[node.group] = true;
    }
  }
  for (int group = 1; group < kGroupSlots; ++group) {
    captured_[group] = captured_[group] && defined_[group];
    if (captured_[group]) program_.used_group_slots = group + 1;
  }
  code_.resize(tree_.nodes.size());
  passable_.resize(tree_.nodes.size(), 1);
  // What a loop too deep, an empty or a contradictory repetition holds is never run.
  const auto unused_inside = [](const Node& node) {
    return IsTooDeepLoop(node) ||
           (node.kind == NodeKind::kRepeat && (node.max == 0 || node.min > node.max));
  };
  for (int n : ChildrenFirst(tree_, unused_inside)) {
    if (!Build(n)) return std::nullopt;
  }
  if (tree_.root >= 0 && static_cast<size_t>(tree_.root) < tree_.nodes.size()) {
    program_.code = std::move(code_[tree_.root]);
  }
  program_.code.push_back(Make(Op::kMatch));
  if (program_.code.size() > max_instructions_) return std::nullopt;
  Finish(program_);
  program_.anchored = IsAnchored(program_.code);
  FindFirstBytes(program_);
  if (loops_ == Loops::kCounted) FindJoinPoints(program_);
  return std::move(program_);
}

}  // namespace

std::optional<Program> Compile(const SyntaxTree& tree, Loops loops, size_t max_instructions) {
  return Compiler(tree, loops, max_instructions).Run();
}

}  // namespace veskor::regexp
