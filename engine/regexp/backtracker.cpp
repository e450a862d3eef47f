// The backtracking executor: the tree is compiled into a small program of instructions, which
// runs on an explicit stack of choice points with a trail that undoes register writes (captures,
// loop counters) when the search backtracks. Nothing recurses on the tree or on the text.
//
// What keeps it from exponential time where it can: the states it has failed from are
// remembered and fail at once when met again. A state is an instruction where paths join, a
// position, and the registers that what follows can still read there (found by a liveness
// analysis of the program): the spans of the groups that a later backreference reads, the
// counts and iteration starts of the loops still running. Every other register is overwritten
// before it is read, so the same key always has the same outcome. Where nothing is live the key
// is (instruction, position), one bit in a table.
#include "engine/regexp/backtracker.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/regexp/assertions.h"
#include "engine/regexp/regexp_error.h"
#include "text/cp1251.h"

namespace veskor::regexp {
namespace {

// Groups 1 to 14 may capture; slot 0 is unused.
constexpr int kGroupSlots = 15;

// Long scans (a byte repetition, a backreference) are counted in pieces of this many bytes, so
// that the stop flag and the hook are seen between two pieces.
constexpr int64_t kScanPiece = 16 * Poller::kInterval;

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
  int32_t memo = -1;  // a join point: its index in CompiledProgram::joins
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

// An instruction where paths of the search join: the target of a jump or a choice, or what
// follows a byte repetition. The registers live there complete its states' keys.
struct JoinPoint {
  std::vector<int32_t> live;
  int32_t bit_row = -1;  // when nothing is live: its row in the bit table
};

// The compiled program, shared by every search.
struct CompiledProgram {
  std::vector<Inst> code;
  std::vector<ByteTable> sets;
  int loop_count = 0;
  int used_group_slots = 1;  // slots 0 to the highest group number
  ByteTable first;
  bool may_be_empty = true;
  std::vector<JoinPoint> joins;
  int32_t bit_rows = 0;
};

}  // namespace

struct Backtracker::Program : CompiledProgram {};

namespace {

void Append(std::vector<Inst>& to, const std::vector<Inst>& from) {
  to.insert(to.end(), from.begin(), from.end());
}

Inst Make(Op op, int32_t arg = 0) {
  Inst inst;
  inst.op = op;
  inst.arg = arg;
  return inst;
}

// The registers an instruction reads and writes, and the instructions it can go on at; -1 for
// none.
struct Effects {
  std::array<int32_t, 2> reads{-1, -1};
  std::array<int32_t, 2> writes{-1, -1};
  std::array<int32_t, 2> next{-1, -1};
};

Effects EffectsOf(const Inst& in, int32_t pc) {
  Effects e;
  switch (in.op) {
    case Op::kByteSet:
    case Op::kAnyByte:
    case Op::kAssert:
    case Op::kByteRepeat:
      e.next[0] = pc + 1;
      break;
    case Op::kGroupOpen:
      e.writes[0] = GroupOpenAt(in.arg);
      e.next[0] = pc + 1;
      break;
    case Op::kGroupClose:
      e.reads[0] = GroupOpenAt(in.arg);
      e.writes = {CaptureStart(in.arg), CaptureEnd(in.arg)};
      e.next[0] = pc + 1;
      break;
    case Op::kBackReference:
      e.reads = {CaptureStart(in.arg), CaptureEnd(in.arg)};
      e.next[0] = pc + 1;
      break;
    case Op::kSplit:
      e.next = {in.target, in.alt};
      break;
    case Op::kJump:
      e.next[0] = in.target;
      break;
    case Op::kRepeatEnter:
      e.writes[0] = LoopCount(in.arg);
      e.next[0] = pc + 1;
      break;
    case Op::kRepeatTest:
      e.reads[0] = LoopCount(in.arg);
      e.next = {pc + 1, in.target};
      break;
    case Op::kRepeatBody:
      e.writes[0] = LoopIterationStart(in.arg);
      e.next[0] = pc + 1;
      break;
    case Op::kRepeatNext:
      // Reads the count before it writes it, so the count stays live.
      e.reads = {LoopCount(in.arg), in.flag ? LoopIterationStart(in.arg) : -1};
      e.next[0] = in.target;
      break;
    case Op::kLoopTooDeep:
    case Op::kFail:
    case Op::kMatch:
      break;
  }
  return e;
}

// Finds the join points of the finished program and the registers live at each: those that
// some path from there reads before it writes them.
void FindJoinPoints(std::vector<Inst>& code, int registers, std::vector<JoinPoint>& joins,
                    int32_t& bit_rows) {
  const int32_t size = static_cast<int32_t>(code.size());
  const size_t words = (static_cast<size_t>(registers) + 63) / 64;
  std::vector<uint64_t> live(code.size() * words, 0);
  std::vector<uint64_t> set(words);
  auto set_bit = [&](int32_t reg, bool on) {
    if (reg < 0) return;
    const uint64_t mask = uint64_t{1} << (reg & 63);
    set[reg >> 6] = on ? set[reg >> 6] | mask : set[reg >> 6] & ~mask;
  };
  // Backwards until nothing changes; loops need a few rounds.
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

  std::vector<bool> joined(code.size(), false);
  auto mark = [&](int32_t pc) {
    if (pc >= 0 && pc < size) joined[pc] = true;
  };
  for (int32_t pc = 0; pc < size; ++pc) {
    const Inst& in = code[pc];
    switch (in.op) {
      case Op::kSplit:
        mark(in.target);
        mark(in.alt);
        break;
      case Op::kRepeatTest:
        mark(pc + 1);
        mark(in.target);
        break;
      case Op::kByteRepeat:
        mark(pc + 1);
        break;
      case Op::kJump:
      case Op::kRepeatNext:
        mark(in.target);
        break;
      default:
        break;
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
    if (join.live.empty()) join.bit_row = bit_rows++;
    code[pc].memo = static_cast<int32_t>(joins.size());
    joins.push_back(std::move(join));
  }
}

}  // namespace

Backtracker::Backtracker(const SyntaxTree& tree, Memo memo) : memo_(memo) {
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
  FindJoinPoints(program->code, 3 * kGroupSlots + 2 * program->loop_count, program->joins,
                 program->bit_rows);
  program_ = std::move(program);
}

namespace {

// The states met by one search, remembered once the search has become slow.
class MemoTable {
 public:
  bool active() const { return active_; }

  // Starts remembering for a text of `size` bytes; false (nothing remembered) when positions
  // do not fit the keys.
  void Start(const CompiledProgram& program, int64_t size);

  // Gives back what a big search took and forgets every state.
  void Finish();

  // True when the state (join point, position, live registers) was met before: the search
  // failed from it then, as it will now. Otherwise remembers it, while there is room.
  bool Seen(const JoinPoint& join, int32_t index, int64_t pos, const int64_t* regs);

 private:
  static constexpr size_t kInitialSlots = 1024;
  static constexpr size_t kSmallBitWords = 4096;
  // A join point whose states come back less than once in 64 over a window of lookups is
  // passed by without a lookup for a while, twice as long each window in a row that does as
  // badly: enumerations that never meet a state twice do not pay for the hash set.
  static constexpr uint32_t kWindow = 1024;
  static constexpr uint32_t kFewHits = kWindow / 64;
  static constexpr int64_t kMaxPause = int64_t{1} << 20;

  struct JoinStats {
    uint32_t lookups = 0;
    uint32_t hits = 0;
    int64_t pause = 0;       // visits still to pass by
    int64_t last_pause = 0;  // 0 after a good window
  };

  bool Lookup(const JoinPoint& join, int32_t index, int64_t pos, const int64_t* regs);
  static void EndWindow(JoinStats& stats);
  bool Insert(const uint32_t* key, size_t length);
  void Grow();

  bool active_ = false;
  uint64_t row_length_ = 0;
  uint64_t* bits_ = nullptr;
  std::vector<uint64_t> small_bits_;
  std::unique_ptr<uint64_t[], decltype(&std::free)> big_bits_{nullptr, &std::free};
  // Open addressing: a slot holds the key's hash tag (high half) and its offset + 1 in keys_
  // (low half); 0 is a free slot. A key is its length in words, then its words.
  std::vector<uint64_t> slots_;
  std::vector<uint32_t> keys_;
  size_t count_ = 0;
  std::vector<uint32_t> key_;
  std::vector<JoinStats> stats_;
};

uint64_t HashWords(const uint32_t* words, size_t length) {
  uint64_t h = 0x9E3779B97F4A7C15u;
  for (size_t i = 0; i < length; ++i) {
    h = (h ^ words[i]) * 0xBF58476D1CE4E5B9u;
    h ^= h >> 29;
  }
  h *= 0x94D049BB133111EBu;
  return h ^ (h >> 32);
}

void MemoTable::Start(const CompiledProgram& program, int64_t size) {
  if (static_cast<uint64_t>(size) >= 0xFFFFFFFEu) return;
  active_ = true;
  row_length_ = static_cast<uint64_t>(size) + 1;
  stats_.assign(program.joins.size(), JoinStats{});
  const uint64_t bits = static_cast<uint64_t>(program.bit_rows) * row_length_;
  if (bits == 0 || bits > Backtracker::kMaxMemoBits) return;  // the hash set serves them all
  const size_t words = (bits + 63) / 64;
  if (words <= kSmallBitWords) {
    small_bits_.assign(words, 0);
    bits_ = small_bits_.data();
  } else {
    // Fresh zeroed pages cost nothing until they are touched.
    big_bits_.reset(static_cast<uint64_t*>(std::calloc(words, sizeof(uint64_t))));
    bits_ = big_bits_.get();
  }
}

void MemoTable::Finish() {
  active_ = false;
  bits_ = nullptr;
  big_bits_.reset();
  if (slots_.size() > kInitialSlots) {
    std::vector<uint64_t>().swap(slots_);
    std::vector<uint32_t>().swap(keys_);
  } else if (count_ > 0) {
    std::fill(slots_.begin(), slots_.end(), 0);
    keys_.clear();
  }
  count_ = 0;
}

inline bool MemoTable::Seen(const JoinPoint& join, int32_t index, int64_t pos,
                            const int64_t* regs) {
  if (join.bit_row >= 0 && bits_ != nullptr) {
    const uint64_t bit =
        static_cast<uint64_t>(join.bit_row) * row_length_ + static_cast<uint64_t>(pos);
    uint64_t& word = bits_[bit >> 6];
    const uint64_t mask = uint64_t{1} << (bit & 63);
    if (word & mask) return true;
    word |= mask;
    return false;
  }
  JoinStats& stats = stats_[index];
  if (stats.pause > 0) {
    --stats.pause;
    return false;
  }
  const bool seen = Lookup(join, index, pos, regs);
  stats.hits += seen;
  if (++stats.lookups == kWindow) EndWindow(stats);
  return seen;
}

void MemoTable::EndWindow(JoinStats& stats) {
  if (stats.hits < kFewHits) {
    stats.last_pause = std::min(kMaxPause, stats.last_pause == 0 ? kWindow : 2 * stats.last_pause);
    stats.pause = stats.last_pause;
  } else {
    stats.last_pause = 0;
  }
  stats.lookups = stats.hits = 0;
}

bool MemoTable::Lookup(const JoinPoint& join, int32_t index, int64_t pos, const int64_t* regs) {
  key_.resize(3 + join.live.size());
  key_[0] = static_cast<uint32_t>(key_.size());
  key_[1] = static_cast<uint32_t>(index);
  key_[2] = static_cast<uint32_t>(pos);
  for (size_t i = 0; i < join.live.size(); ++i) {
    // Registers hold -1 (unset), positions and counts; a count beyond 32 bits is not remembered.
    const int64_t value = regs[join.live[i]] + 1;
    if (value < 0 || value > 0xFFFFFFFF) return false;
    key_[3 + i] = static_cast<uint32_t>(value);
  }
  return Insert(key_.data(), key_.size());
}

bool MemoTable::Insert(const uint32_t* key, size_t length) {
  if (slots_.empty()) slots_.assign(kInitialSlots, 0);
  const uint64_t hash = HashWords(key, length);
  const uint64_t tag = hash >> 32;
  const size_t mask = slots_.size() - 1;
  size_t i = hash & mask;
  for (; slots_[i] != 0; i = (i + 1) & mask) {
    if ((slots_[i] >> 32) != tag) continue;
    const uint32_t* other = keys_.data() + ((slots_[i] & 0xFFFFFFFF) - 1);
    if (other[0] == length && std::equal(key, key + length, other)) return true;
  }
  if (count_ >= Backtracker::kMaxMemoEntries ||
      keys_.size() + length > Backtracker::kMaxMemoKeyWords) {
    return false;  // full: the state is searched again whenever it is met
  }
  if (keys_.size() + length > keys_.capacity()) {
    // Grown by hand, so that the keys never take more than their cap.
    keys_.reserve(std::min<size_t>(std::max<size_t>(2 * keys_.capacity(), 4096),
                                   Backtracker::kMaxMemoKeyWords));
  }
  slots_[i] = (tag << 32) | (keys_.size() + 1);
  keys_.insert(keys_.end(), key, key + length);
  if (++count_ * 2 > slots_.size()) Grow();
  return false;
}

void MemoTable::Grow() {
  std::vector<uint64_t> old(slots_.size() * 2, 0);
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (uint64_t slot : old) {
    if (slot == 0) continue;
    const uint32_t* key = keys_.data() + ((slot & 0xFFFFFFFF) - 1);
    size_t i = HashWords(key, key[0]) & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

// Per-thread working memory, kept from search to search.
struct Scratch {
  ChunkedStack<Choice> choices;
  ChunkedStack<TrailEntry> trail;
  std::vector<int64_t> regs;
  MemoTable memo;
};

// Gives back what one huge search took, also when the search throws.
struct ScratchTrimmer {
  Scratch& scratch;
  ~ScratchTrimmer() {
    scratch.choices.Trim();
    scratch.trail.Trim();
    scratch.memo.Finish();
  }
};

enum class Outcome { kNoMatch, kMatch, kStopped };

// Counts the bytes of `set` from text[pos] on, at most `limit` of them, in pieces between
// which the poller is counted. Returns -1 when stopped.
inline int64_t CountBytes(const ByteTable& set, const uint8_t* text, int64_t pos, int64_t limit,
                          Poller& poller) {
  int64_t n = 0;
  for (;;) {
    const int64_t from = n;
    const int64_t piece_end = std::min(limit, n + kScanPiece);
    while (n < piece_end && set.Has(text[pos + n])) ++n;
    if (poller.Tick((n - from) >> 4)) return -1;
    if (n < piece_end || n == limit) return n;
  }
}

// Does text[b, b + length) equal text[a, a + length), byte for byte or (caseless) each byte
// or its other case? Compared in pieces between which the poller is counted; -1 when stopped.
inline int SameText(const uint8_t* a, const uint8_t* b, int64_t length, bool caseless,
                    Poller& poller) {
  if (length <= 16 && !caseless) {
    // The usual capture: a few bytes, cheaper compared here than through a call.
    for (int64_t i = 0; i < length; ++i) {
      if (a[i] != b[i]) return 0;
    }
    return 1;
  }
  const auto& other = OtherCaseTable();
  for (int64_t done = 0; done < length;) {
    const int64_t piece = std::min(length - done, kScanPiece);
    if (caseless) {
      for (int64_t i = done; i < done + piece; ++i) {
        if (a[i] != b[i] && other[a[i]] != b[i]) return 0;
      }
    } else if (std::memcmp(a + done, b + done, static_cast<size_t>(piece)) != 0) {
      return 0;
    }
    done += piece;
    if (poller.Tick(piece >> 4)) return -1;
  }
  return 1;
}

// One search over one text: the attempts from every start, sharing the memo.
class TextSearch {
 public:
  TextSearch(const CompiledProgram& program, Scratch& scratch, const uint8_t* text, int64_t size,
             Poller& poller)
      : program_(program), scratch_(scratch), text_(text), size_(size), poller_(poller) {}

  // The memo starts after `steps` steps; 0 starts it now, a negative count never.
  void StartMemoAfter(int64_t steps) {
    steps_until_memo_ = steps;
    if (steps == 0) scratch_.memo.Start(program_, size_);
  }

  Outcome Attempt(int64_t start);

 private:
  const CompiledProgram& program_;
  Scratch& scratch_;
  const uint8_t* text_;
  int64_t size_;
  Poller& poller_;
  int64_t steps_until_memo_ = -1;
};

Outcome TextSearch::Attempt(int64_t start) {
  ChunkedStack<Choice>& choices = scratch_.choices;
  ChunkedStack<TrailEntry>& trail = scratch_.trail;
  std::vector<int64_t>& regs = scratch_.regs;
  MemoTable& memo = scratch_.memo;
  choices.clear();
  trail.clear();
  // Only the capture registers are read before they are written.
  std::fill(regs.begin(), regs.begin() + 3 * program_.used_group_slots, int64_t{-1});

  const Inst* code = program_.code.data();
  const ByteTable* sets = program_.sets.data();
  const JoinPoint* joins = program_.joins.data();
  const uint8_t* text = text_;
  const int64_t size = size_;
  auto set_reg = [&](int32_t reg, int64_t value) {
    if (!choices.empty()) trail.push_back({reg, regs[reg]});
    regs[reg] = value;
  };

  int32_t pc = 0;
  int64_t pos = start;
  for (;;) {
    if (poller_.Tick()) return Outcome::kStopped;
    if (steps_until_memo_ > 0 && --steps_until_memo_ == 0) memo.Start(program_, size);
    const Inst& in = code[pc];
    if (in.memo >= 0 && memo.active() && memo.Seen(joins[in.memo], in.memo, pos, regs.data())) {
      // Met before with the same live registers: it failed then, so it fails now.
    } else {
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
          const int same = SameText(text + from, text + pos, length, in.flag, poller_);
          if (same < 0) return Outcome::kStopped;
          if (same == 0) break;
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
            const int64_t n = CountBytes(set, text, pos, limit, poller_);
            if (n < 0) return Outcome::kStopped;
            if (n < in.min) break;
            if (n > in.min) choices.push_back({pc, ChoiceKind::kGreedyBytes, trail.size(), pos, n});
            pos += n;
          } else {
            if (in.min > limit) break;
            const int64_t n = CountBytes(set, text, pos, in.min, poller_);
            if (n < 0) return Outcome::kStopped;
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

bool Backtracker::Search(std::string_view text, const std::atomic<bool>* stop, SearchHook hook,
                         int64_t last_start) const {
  if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
  Poller poller(stop, hook);
  return Search(text, poller, last_start);
}

bool Backtracker::Search(std::string_view text, Poller& poller, int64_t last_start) const {
  const Program& program = *program_;
  ScratchLease<Scratch> scratch;
  ScratchTrimmer trimmer{*scratch};
  const size_t registers = 3 * kGroupSlots + 2 * static_cast<size_t>(program.loop_count);
  if (scratch->regs.size() < registers) scratch->regs.resize(registers);

  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int64_t size = static_cast<int64_t>(text.size());
  TextSearch search(program, *scratch, bytes, size, poller);
  switch (memo_) {
    case Memo::kWhenSlow:
      // About the steps a search that meets every (instruction, position) once would take.
      search.StartMemoAfter(2 * Poller::kInterval +
                            static_cast<int64_t>(program.code.size()) * (size + 1));
      break;
    case Memo::kAlways:
      search.StartMemoAfter(0);
      break;
    case Memo::kNever:
      break;
  }
  const int64_t last = std::min(size, last_start);
  for (int64_t start = 0; start <= last; ++start) {
    if (!program.may_be_empty) {
      // A match has to consume its first byte: skip the starts that cannot begin one.
      for (;;) {
        const int64_t piece_end = std::min(last, start + kScanPiece);
        while (start < piece_end && !program.first.Has(bytes[start])) ++start;
        if (start < piece_end || start == last) break;
        if (poller.Tick(kScanPiece >> 4)) return false;
      }
      if (start == size) return false;
    }
    switch (search.Attempt(start)) {
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
