// The backtracking executor: the tree is compiled into a small program of instructions, which
// runs on an explicit stack of choice points with a trail that undoes register writes (captures,
// loop counters) when the search backtracks. Nothing recurses on the tree or on the text.
#include "engine/regexp/backtracker.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/regexp/assertions.h"
#include "engine/regexp/regexp_error.h"
#include "text/cp1251.h"

namespace veskor::regexp {
namespace {

// Groups 1 to 14 may capture; slot 0 is unused.
constexpr int kGroupSlots = 15;

// How many steps run between two looks at the stop flag.
constexpr int64_t kStopCheckInterval = 2048;

struct ByteTable {
  uint64_t words[4] = {0, 0, 0, 0};
  bool Has(uint8_t b) const { return (words[b >> 6] >> (b & 63)) & 1; }
  void Add(const ByteTable& other) {
    for (int i = 0; i < 4; ++i) words[i] |= other.words[i];
  }
  void AddAll() { std::fill(std::begin(words), std::end(words), ~uint64_t{0}); }
  bool IsAll() const { return (words[0] & words[1] & words[2] & words[3]) == ~uint64_t{0}; }
  static ByteTable From(const ByteSet& set) {
    ByteTable t;
    for (int b = 0; b < 256; ++b) {
      if (set[b]) t.words[b >> 6] |= uint64_t{1} << (b & 63);
    }
    return t;
  }
};

enum class Op : uint8_t {
  kByteSet,        // one byte of sets[arg]
  kAnyByte,        // any one byte
  kAssert,         // the zero-width test `assertion`
  kGroupOpen,      // group `arg` starts here (not yet visible to backreferences)
  kGroupClose,     // group `arg` has captured from its open position to here
  kBackReference,  // the text group `arg` last captured; without regard to case when `flag`
  kSplit,          // go on at `target`; on failure come back to `alt`
  kJump,           // go on at `target`
  kRepeatEnter,    // loop `arg` starts with no iteration done
  kRepeatTest,     // loop `arg`: one more iteration (the next instruction) or leave to `target`
  kRepeatBody,     // loop `arg`: an iteration begins at this position
  kRepeatNext,     // loop `arg`: an iteration ended; count it and go back to the test `target`
  kByteRepeat,     // sets[arg] repeated `min` to `max` times, greedy when `flag`
  kLoopTooDeep,    // entering a loop beyond the nesting limit: raise
  kFail,           // never matches
  kMatch,          // success
};

struct Inst {
  Op op = Op::kFail;
  bool flag = false;
  AssertionKind assertion = AssertionKind::kTextStart;
  int32_t arg = 0;
  int32_t target = 0;  // relative to the instruction while compiling, absolute afterwards
  int32_t alt = 0;     // likewise
  uint32_t min = 0;
  uint32_t max = 0;
};

// Registers: per group slot its capture start, capture end and pending open position; per loop
// its iteration count and the position where its current iteration began.
int CaptureStart(int group) { return 3 * group; }
int CaptureEnd(int group) { return 3 * group + 1; }
int GroupOpenAt(int group) { return 3 * group + 2; }
int LoopCount(int loop) { return 3 * kGroupSlots + 2 * loop; }
int LoopIterationStart(int loop) { return 3 * kGroupSlots + 2 * loop + 1; }

enum class ChoiceKind : uint8_t {
  kResume,       // go on at `pc` from `pos`
  kGreedyBytes,  // kByteRepeat at `pc` began at `pos` and holds `count` bytes: give one back
  kLazyBytes,    // kByteRepeat at `pc` holds `count` bytes up to `pos`: take one more
};

struct Choice {
  int32_t pc;
  ChoiceKind kind;
  size_t trail_size;
  int64_t pos;
  int64_t count;
};

struct TrailEntry {
  int32_t reg;
  int64_t old_value;
};

// A stack in fixed-size chunks: it grows without moving what it holds, and a search that made
// it huge gives the memory back afterwards.
template <typename T>
class ChunkedStack {
 public:
  static constexpr size_t kChunk = 4096;
  static constexpr size_t kKeptChunks = 64;

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  void clear() { size_ = 0; }
  void truncate(size_t size) { size_ = size; }
  T& operator[](size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  T& back() { return (*this)[size_ - 1]; }
  void pop_back() { --size_; }
  void push_back(const T& value) {
    if (size_ == chunks_.size() * kChunk) chunks_.push_back(std::make_unique<T[]>(kChunk));
    (*this)[size_++] = value;
  }
  void Trim() {
    if (chunks_.size() > kKeptChunks) chunks_.resize(kKeptChunks);
  }

 private:
  std::vector<std::unique_ptr<T[]>> chunks_;
  size_t size_ = 0;
};

struct Scratch {
  ChunkedStack<Choice> choices;
  ChunkedStack<TrailEntry> trail;
  std::vector<int64_t> regs;
};

thread_local Scratch scratch;

// Gives back what one huge search took, also when the search throws.
struct ScratchTrimmer {
  ~ScratchTrimmer() {
    scratch.choices.Trim();
    scratch.trail.Trim();
  }
};

const std::array<uint8_t, 256>& OtherCaseTable() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = OtherCase1251(static_cast<uint8_t>(b));
    return t;
  }();
  return table;
}

// What a node can begin with: the bytes a non-empty match of it can start with, and whether it
// can be passed without consuming a byte.
struct FirstInfo {
  ByteTable bytes;
  bool passable = true;
};

}  // namespace

struct Backtracker::Program {
  std::vector<Inst> code;
  std::vector<ByteTable> sets;
  int loop_count = 0;
  int used_group_slots = 1;  // slots 0 to the highest group number
  ByteTable first;
  bool may_be_empty = true;
};

namespace {

bool IsTooDeepLoop(const Node& node) {
  return node.kind == NodeKind::kRepeat && node.is_loop && node.loop_depth > kMaxLoopDepth;
}

void Append(std::vector<Inst>& to, const std::vector<Inst>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

Inst Make(Op op, int32_t arg = 0) {
  Inst inst;
  inst.op = op;
  inst.arg = arg;
  return inst;
}

}  // namespace

Backtracker::Backtracker(const SyntaxTree& tree) {
  auto program = std::make_shared<Program>();
  const auto& nodes = tree.nodes;
  const int count = static_cast<int>(nodes.size());
  auto valid = [&](int n) { return n >= 0 && n < count; };

  // Which group numbers the tree defines: a reference to any other never matches.
  std::array<bool, kGroupSlots> defined{};
  for (const Node& node : nodes) {
    if (node.kind == NodeKind::kGroup && node.group >= 1 && node.group < kGroupSlots) {
      defined[node.group] = true;
      program->used_group_slots = std::max(program->used_group_slots, node.group + 1);
    }
  }

  // Post-order walk with an explicit stack. Each node gets a code fragment whose jump targets
  // are relative, so that fragments can be concatenated as they are.
  std::vector<std::vector<Inst>> fragment(count);
  std::vector<FirstInfo> first(count);
  std::vector<uint8_t> state(count, 0);  // 0 unseen, 1 children pending, 2 built
  std::vector<int> stack;
  if (valid(tree.root)) stack.push_back(tree.root);
  while (!stack.empty()) {
    const int n = stack.back();
    const Node& node = nodes[n];
    if (state[n] == 0) {
      state[n] = 1;
      if (!IsTooDeepLoop(node)) {
        for (auto it = node.children.rbegin(); it != node.children.rend(); ++it) {
          if (valid(*it) && state[*it] == 0) stack.push_back(*it);
        }
      }
      continue;
    }
    stack.pop_back();
    if (state[n] == 2) continue;
    state[n] = 2;

    static const std::vector<Inst> kNothing;
    static const FirstInfo kPassable;
    auto child_code = [&](size_t i) -> const std::vector<Inst>& {
      return i < node.children.size() && valid(node.children[i]) ? fragment[node.children[i]]
                                                                 : kNothing;
    };
    auto child_first = [&](size_t i) -> const FirstInfo& {
      return i < node.children.size() && valid(node.children[i]) ? first[node.children[i]]
                                                                 : kPassable;
    };
    std::vector<Inst>& code = fragment[n];
    FirstInfo& info = first[n];

    switch (node.kind) {
      case NodeKind::kEmpty:
        break;
      case NodeKind::kByteSet: {
        ByteTable table = ByteTable::From(node.set);
        info.bytes = table;
        info.passable = false;
        if (table.IsAll()) {
          code.push_back(Make(Op::kAnyByte));
        } else {
          program->sets.push_back(table);
          code.push_back(Make(Op::kByteSet, static_cast<int32_t>(program->sets.size() - 1)));
        }
        break;
      }
      case NodeKind::kAssertion: {
        Inst inst = Make(Op::kAssert);
        inst.assertion = node.assertion;
        code.push_back(inst);
        break;
      }
      case NodeKind::kGroup: {
        info = child_first(0);
        const bool captures = node.group >= 1 && node.group < kGroupSlots;
        if (captures) code.push_back(Make(Op::kGroupOpen, node.group));
        Append(code, child_code(0));
        if (captures) code.push_back(Make(Op::kGroupClose, node.group));
        break;
      }
      case NodeKind::kConcat: {
        for (size_t i = 0; i < node.children.size(); ++i) {
          Append(code, child_code(i));
          if (info.passable) {
            info.bytes.Add(child_first(i).bytes);
            info.passable = child_first(i).passable;
          }
        }
        break;
      }
      case NodeKind::kAlternation: {
        const size_t k = node.children.size();
        info.passable = k == 0;
        std::vector<size_t> jumps;
        for (size_t i = 0; i < k; ++i) {
          info.bytes.Add(child_first(i).bytes);
          info.passable = info.passable || child_first(i).passable;
          const auto& alternative = child_code(i);
          if (i + 1 < k) {
            Inst split = Make(Op::kSplit);
            split.target = 1;
            split.alt = static_cast<int32_t>(alternative.size()) + 2;
            code.push_back(split);
            Append(code, alternative);
            jumps.push_back(code.size());
            code.push_back(Make(Op::kJump));
          } else {
            Append(code, alternative);
          }
        }
        for (size_t j : jumps) code[j].target = static_cast<int32_t>(code.size() - j);
        break;
      }
      case NodeKind::kRepeat: {
        if (IsTooDeepLoop(node)) {
          // The search stops here, whatever could follow.
          info.bytes.AddAll();
          info.passable = true;
          code.push_back(Make(Op::kLoopTooDeep));
          break;
        }
        const auto& body = child_code(0);
        const int32_t body_size = static_cast<int32_t>(body.size());
        if (node.min > node.max) {
          info.passable = false;
          code.push_back(Make(Op::kFail));
          break;
        }
        if (node.max == 0) break;
        info = child_first(0);
        const bool body_may_be_empty = info.passable;
        if (node.min == 0) info.passable = true;
        const int child = node.children.empty() ? -1 : node.children[0];
        if (valid(child) && nodes[child].kind == NodeKind::kByteSet) {
          // One byte repeated: counted in place, with one choice point for all the counts.
          program->sets.push_back(ByteTable::From(nodes[child].set));
          Inst inst = Make(Op::kByteRepeat, static_cast<int32_t>(program->sets.size() - 1));
          inst.min = node.min;
          inst.max = node.max;
          inst.flag = node.greedy;
          code.push_back(inst);
        } else if (node.min == 1 && node.max == 1) {
          code = body;
        } else if (node.min == 0 && node.max == 1) {
          Inst split = Make(Op::kSplit);
          split.target = node.greedy ? 1 : body_size + 1;
          split.alt = node.greedy ? body_size + 1 : 1;
          code.push_back(split);
          Append(code, body);
        } else if (node.max == kInfinite && node.min <= 1 && !body_may_be_empty) {
          // '*' and '+' of an operand that always consumes: a plain loop of choices.
          if (node.min == 0) {
            // split (body, leave); body; jump back to the split
            Inst split = Make(Op::kSplit);
            split.target = node.greedy ? 1 : body_size + 2;
            split.alt = node.greedy ? body_size + 2 : 1;
            code.push_back(split);
            Append(code, body);
            Inst jump = Make(Op::kJump);
            jump.target = -(body_size + 1);
            code.push_back(jump);
          } else {
            // body; split (body again, leave)
            Append(code, body);
            Inst split = Make(Op::kSplit);
            split.target = node.greedy ? -body_size : 1;
            split.alt = node.greedy ? 1 : -body_size;
            code.push_back(split);
          }
        } else {
          // enter; test (leave past the end); [iteration mark]; body; next (back to the test).
          // The mark and the empty-iteration guard are only needed when the body can match
          // empty.
          const int32_t loop = program->loop_count++;
          const int32_t mark = body_may_be_empty ? 1 : 0;
          code.push_back(Make(Op::kRepeatEnter, loop));
          Inst test = Make(Op::kRepeatTest, loop);
          test.min = node.min;
          test.max = node.max;
          test.flag = node.greedy;
          test.target = body_size + mark + 2;
          code.push_back(test);
          if (mark) code.push_back(Make(Op::kRepeatBody, loop));
          Append(code, body);
          Inst next = Make(Op::kRepeatNext, loop);
          next.min = node.min;
          next.flag = body_may_be_empty;
          next.target = -(body_size + mark + 1);
          code.push_back(next);
        }
        break;
      }
      case NodeKind::kBackReference: {
        // It may capture nothing, and what it captured may begin with any byte.
        info.bytes.AddAll();
        info.passable = true;
        if (node.group >= 1 && node.group < kGroupSlots && defined[node.group]) {
          Inst inst = Make(Op::kBackReference, node.group);
          inst.flag = node.case_insensitive;
          code.push_back(inst);
        } else {
          info.passable = false;
          code.push_back(Make(Op::kFail));
        }
        break;
      }
    }
  }

  if (valid(tree.root)) {
    program->code = std::move(fragment[tree.root]);
    program->first = first[tree.root].bytes;
    program->may_be_empty = first[tree.root].passable;
  } else {
    program->may_be_empty = true;
  }
  program->code.push_back(Make(Op::kMatch));
  for (size_t i = 0; i < program->code.size(); ++i) {
    Inst& inst = program->code[i];
    switch (inst.op) {
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
  program_ = std::move(program);
}

namespace {

enum class Outcome { kNoMatch, kMatch, kStopped };

// One attempt from `start`. `budget` counts down the work until the next look at the stop flag.
template <typename Program>
Outcome Attempt(const Program& program, const uint8_t* text, int64_t size, int64_t start,
                const std::atomic<bool>* stop, int64_t& budget) {
  ChunkedStack<Choice>& choices = scratch.choices;
  ChunkedStack<TrailEntry>& trail = scratch.trail;
  std::vector<int64_t>& regs = scratch.regs;
  choices.clear();
  trail.clear();
  // Only the capture registers are read before they are written.
  std::fill(regs.begin(), regs.begin() + 3 * program.used_group_slots, int64_t{-1});

  const Inst* code = program.code.data();
  const ByteTable* sets = program.sets.data();
  auto set_reg = [&](int32_t reg, int64_t value) {
    if (!choices.empty()) trail.push_back({reg, regs[reg]});
    regs[reg] = value;
  };

  int32_t pc = 0;
  int64_t pos = start;
  for (;;) {
    if (--budget <= 0) {
      budget = kStopCheckInterval;
      if (stop != nullptr && stop->load(std::memory_order_relaxed)) return Outcome::kStopped;
    }
    const Inst& in = code[pc];
    switch (in.op) {
      case Op::kByteSet:
        if (pos < size && sets[in.arg].Has(text[pos])) {
          ++pos;
          ++pc;
          continue;
        }
        break;
      case Op::kAnyByte:
        if (pos < size) {
          ++pos;
          ++pc;
          continue;
        }
        break;
      case Op::kAssert:
        if (AssertionHolds(in.assertion, text, size, pos)) {
          ++pc;
          continue;
        }
        break;
      case Op::kGroupOpen:
        set_reg(GroupOpenAt(in.arg), pos);
        ++pc;
        continue;
      case Op::kGroupClose:
        set_reg(CaptureStart(in.arg), regs[GroupOpenAt(in.arg)]);
        set_reg(CaptureEnd(in.arg), pos);
        ++pc;
        continue;
      case Op::kBackReference: {
        const int64_t from = regs[CaptureStart(in.arg)];
        if (from < 0) break;
        const int64_t length = regs[CaptureEnd(in.arg)] - from;
        if (length > size - pos) break;
        budget -= length >> 4;
        const uint8_t* a = text + from;
        const uint8_t* b = text + pos;
        bool same = true;
        if (in.flag) {
          const auto& other = OtherCaseTable();
          for (int64_t i = 0; i < length; ++i) {
            if (a[i] != b[i] && other[a[i]] != b[i]) {
              same = false;
              break;
            }
          }
        } else {
          same = std::equal(a, a + length, b);
        }
        if (!same) break;
        pos += length;
        ++pc;
        continue;
      }
      case Op::kSplit:
        choices.push_back({in.alt, ChoiceKind::kResume, trail.size(), pos, 0});
        pc = in.target;
        continue;
      case Op::kJump:
        pc = in.target;
        continue;
      case Op::kRepeatEnter:
        set_reg(LoopCount(in.arg), 0);
        ++pc;
        continue;
      case Op::kRepeatTest: {
        const int64_t done = regs[LoopCount(in.arg)];
        if (done < in.min) {
          ++pc;
        } else if (in.max != kInfinite && done >= in.max) {
          pc = in.target;
        } else if (in.flag) {
          choices.push_back({in.target, ChoiceKind::kResume, trail.size(), pos, 0});
          ++pc;
        } else {
          choices.push_back({pc + 1, ChoiceKind::kResume, trail.size(), pos, 0});
          pc = in.target;
        }
        continue;
      }
      case Op::kRepeatBody:
        set_reg(LoopIterationStart(in.arg), pos);
        ++pc;
        continue;
      case Op::kRepeatNext: {
        const int64_t done = regs[LoopCount(in.arg)];
        // An empty iteration once the minimum is reached can only repeat itself: refuse it.
        if (in.flag && pos == regs[LoopIterationStart(in.arg)] && done >= in.min) break;
        set_reg(LoopCount(in.arg), done + 1);
        pc = in.target;
        continue;
      }
      case Op::kByteRepeat: {
        const ByteTable& set = sets[in.arg];
        int64_t limit = size - pos;
        if (in.max != kInfinite) limit = std::min<int64_t>(limit, in.max);
        if (in.flag) {
          int64_t n = 0;
          while (n < limit && set.Has(text[pos + n])) ++n;
          budget -= n >> 4;
          if (n < in.min) break;
          if (n > in.min) choices.push_back({pc, ChoiceKind::kGreedyBytes, trail.size(), pos, n});
          pos += n;
        } else {
          if (in.min > limit) break;
          int64_t n = 0;
          while (n < in.min && set.Has(text[pos + n])) ++n;
          budget -= n >> 4;
          if (n < in.min) break;
          pos += n;
          if (n < limit) choices.push_back({pc, ChoiceKind::kLazyBytes, trail.size(), pos, n});
        }
        ++pc;
        continue;
      }
      case Op::kLoopTooDeep:
        throw ExecError(kLoopStackExceeded);
      case Op::kFail:
        break;
      case Op::kMatch:
        return Outcome::kMatch;
    }

    // Failure: go back to the latest choice point that still has something to try.
    for (;;) {
      if (choices.empty()) return Outcome::kNoMatch;
      Choice& choice = choices.back();
      for (size_t i = trail.size(); i > choice.trail_size; --i) {
        regs[trail[i - 1].reg] = trail[i - 1].old_value;
      }
      trail.truncate(choice.trail_size);
      if (choice.kind == ChoiceKind::kResume) {
        pc = choice.pc;
        pos = choice.pos;
        choices.pop_back();
        break;
      }
      const Inst& repeat = code[choice.pc];
      if (choice.kind == ChoiceKind::kGreedyBytes) {
        --choice.count;
        pc = choice.pc + 1;
        pos = choice.pos + choice.count;
        if (choice.count == repeat.min) choices.pop_back();
        break;
      }
      // kLazyBytes: one byte more, while the set and the maximum allow.
      if (choice.pos < size && sets[repeat.arg].Has(text[choice.pos])) {
        ++choice.pos;
        ++choice.count;
        pc = choice.pc + 1;
        pos = choice.pos;
        if (pos == size || (repeat.max != kInfinite && choice.count >= repeat.max)) {
          choices.pop_back();
        }
        break;
      }
      choices.pop_back();
    }
  }
}

}  // namespace

bool Backtracker::Search(std::string_view text, const std::atomic<bool>* stop) const {
  if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
  const Program& program = *program_;
  ScratchTrimmer trimmer;
  const size_t registers = 3 * kGroupSlots + 2 * static_cast<size_t>(program.loop_count);
  if (scratch.regs.size() < registers) scratch.regs.resize(registers);

  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int64_t size = static_cast<int64_t>(text.size());
  int64_t budget = kStopCheckInterval;
  for (int64_t start = 0; start <= size; ++start) {
    if (!program.may_be_empty) {
      // A match has to consume its first byte: skip the starts that cannot begin one.
      while (start < size && !program.first.Has(bytes[start])) ++start;
      if (start == size) return false;
    }
    switch (Attempt(program, bytes, size, start, stop, budget)) {
      case Outcome::kMatch:
        return true;
      case Outcome::kStopped:
        return false;
      case Outcome::kNoMatch:
        break;
    }
  }
  return false;
}

}  // namespace veskor::regexp
