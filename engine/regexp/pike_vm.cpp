// The automaton executor: runs the program's threads in lock step over the text, one thread
// per instruction and position.
#include "engine/regexp/pike_vm.h"

#include <algorithm>
#include <utility>

#include "engine/regexp/assertions.h"
#include "engine/regexp/regexp_error.h"

namespace veskor::regexp {

// Per-thread working memory, kept from call to call so that a search allocates nothing once
// it has seen a text as long as the current one.
struct PikeVm::Scratch {
  // The entry positions of the threads inside one byte repetition, oldest first.
  struct Queue {
    std::vector<size_t> entries;
    size_t head = 0;
    uint32_t exit_stamp = 0;  // the generation in which the way out was last taken

    bool Empty() const { return head == entries.size(); }
    void Clear() {
      entries.clear();
      head = 0;
    }
    size_t Oldest() const { return entries[head]; }
    size_t Newest() const { return entries.back(); }
    void Push(size_t pos) {
      if (Empty()) {
        Clear();
      } else if (head >= 4096 && head * 2 >= entries.size()) {
        entries.erase(entries.begin(), entries.begin() + static_cast<ptrdiff_t>(head));
        head = 0;
      }
      entries.push_back(pos);
    }
  };

  // stamp[pc] == generation: pc has been reached at the position being built.
  std::vector<uint32_t> stamp;
  uint32_t generation = 0;
  std::vector<uint32_t> current;  // the byte-consuming threads at the current position
  std::vector<uint32_t> next;
  std::vector<uint32_t> stack;
  std::vector<Queue> queues;  // one per byte repetition

  void NewGeneration() {
    if (++generation == 0) {
      std::fill(stamp.begin(), stamp.end(), 0);
      for (Queue& queue : queues) queue.exit_stamp = 0;
      generation = 1;
    }
  }
  bool Mark(uint32_t pc) {
    if (stamp[pc] == generation) return false;
    stamp[pc] = generation;
    return true;
  }
};

std::optional<Program> PikeVm::ProgramFor(const SyntaxTree& tree) {
  if (tree.has_back_references || tree.max_loop_depth > kMaxLoopDepth) return std::nullopt;
  if (tree.nodes.empty()) return std::nullopt;
  for (const Node& node : tree.nodes) {
    if (node.kind == NodeKind::kBackReference || node.loop_depth > kMaxLoopDepth) {
      return std::nullopt;
    }
  }
  return Compile(tree, Loops::kUnrolled, kMaxInstructions);
}

bool PikeVm::Supports(const SyntaxTree& tree) { return ProgramFor(tree).has_value(); }

namespace {

Program Supported(std::optional<Program> program) {
  if (!program) throw ExecError(0);
  return std::move(*program);
}

}  // namespace

PikeVm::PikeVm(const SyntaxTree& tree) : PikeVm(Supported(ProgramFor(tree))) {}

PikeVm::PikeVm(Program program) : program_(std::move(program)) {
  if (!program_.anchored && !program_.may_be_empty && !program_.first_bytes.all()) {
    first_bytes_.emplace(program_.first_bytes);
  }
}

bool PikeVm::AddClosure(uint32_t pc, std::string_view text, size_t pos, Scratch& scratch,
                        std::vector<uint32_t>& list) const {
  std::vector<uint32_t>& stack = scratch.stack;
  stack.clear();
  stack.push_back(pc);
  while (!stack.empty()) {
    pc = stack.back();
    stack.pop_back();
    const Inst& in = program_.code[pc];
    switch (in.op) {
      case Op::kByteSet:
      case Op::kAnyByte:
        if (scratch.Mark(pc)) list.push_back(pc);
        break;
      case Op::kByteRepeat: {
        // A thread entering the repetition here: with an unbounded count only the oldest entry
        // matters, as it has consumed the most and can never be dropped.
        Scratch::Queue& queue = scratch.queues[in.repeat];
        if (queue.Empty() || (in.max != kInfinite && queue.Newest() != pos)) queue.Push(pos);
        if (scratch.Mark(pc)) list.push_back(pc);
        if (pos - queue.Oldest() >= in.min && queue.exit_stamp != scratch.generation) {
          queue.exit_stamp = scratch.generation;
          stack.push_back(pc + 1);
        }
        break;
      }
      case Op::kSplit:
        if (scratch.Mark(pc)) {
          stack.push_back(in.alt);
          stack.push_back(in.target);
        }
        break;
      case Op::kJump:
        if (scratch.Mark(pc)) stack.push_back(in.target);
        break;
      case Op::kAssert:
        if (scratch.Mark(pc) &&
            AssertionHolds(in.assertion, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                           pos)) {
          stack.push_back(pc + 1);
        }
        break;
      case Op::kMatch:
        return true;
      case Op::kFail:
        break;
      // Not in a program without backreferences or registers.
      case Op::kGroupOpen:
      case Op::kGroupClose:
      case Op::kBackReference:
      case Op::kRepeatEnter:
      case Op::kRepeatTest:
      case Op::kRepeatBody:
      case Op::kRepeatNext:
      case Op::kLoopTooDeep:
        break;
    }
  }
  return false;
}

bool PikeVm::Search(std::string_view text) const {
  Poller poller(nullptr, {});
  return Search(text, poller);
}

bool PikeVm::Search(std::string_view text, Poller& poller) const {
  ScratchLease<Scratch> lease;
  Scratch& scratch = *lease;
  const std::vector<Inst>& code = program_.code;
  if (scratch.stamp.size() < code.size()) scratch.stamp.resize(code.size(), 0);
  const size_t repeats = static_cast<size_t>(program_.byte_repeat_count);
  if (scratch.queues.size() < repeats) scratch.queues.resize(repeats);
  for (size_t i = 0; i < repeats; ++i) scratch.queues[i].Clear();
  std::vector<uint32_t>& current = scratch.current;
  std::vector<uint32_t>& next = scratch.next;
  current.clear();
  scratch.NewGeneration();

  const size_t size = text.size();
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t pos = 0;; ++pos) {
    if (poller.Tick(1 + static_cast<int64_t>(current.size()))) return false;
    if (current.empty()) {
      if (program_.anchored && pos > 0) return false;
      if (first_bytes_) {
        // No thread is alive: the next match can only start at a byte it can begin with.
        const int64_t found = first_bytes_->First(bytes, static_cast<int64_t>(pos),
                                                  static_cast<int64_t>(size), poller);
        if (found < 0 || static_cast<size_t>(found) == size) return false;
        if (static_cast<size_t>(found) != pos) {
          pos = static_cast<size_t>(found);
          scratch.NewGeneration();
        }
      }
    }
    if ((pos == 0 || !program_.anchored) && AddClosure(0, text, pos, scratch, current)) {
      return true;
    }
    if (pos == size) return false;

    // One byte: first move every repetition's entries past it, then let each thread go on.
    const uint8_t byte = bytes[pos];
    const size_t after = pos + 1;
    scratch.NewGeneration();
    next.clear();
    for (uint32_t pc : current) {
      const Inst& in = code[pc];
      if (in.op != Op::kByteRepeat) continue;
      Scratch::Queue& queue = scratch.queues[in.repeat];
      if (!program_.sets[in.arg][byte]) {
        queue.Clear();
      } else if (in.max != kInfinite) {
        while (!queue.Empty() && after - queue.Oldest() > in.max) ++queue.head;
      }
    }
    for (uint32_t pc : current) {
      const Inst& in = code[pc];
      if (in.op != Op::kByteRepeat) {  // kByteSet or kAnyByte
        if (program_.sets[in.arg][byte] && AddClosure(pc + 1, text, after, scratch, next)) {
          return true;
        }
        continue;
      }
      Scratch::Queue& queue = scratch.queues[in.repeat];
      if (queue.Empty()) continue;
      if (scratch.Mark(pc)) next.push_back(pc);
      if (after - queue.Oldest() >= in.min && queue.exit_stamp != scratch.generation) {
        queue.exit_stamp = scratch.generation;
        if (AddClosure(pc + 1, text, after, scratch, next)) return true;
      }
    }
    std::swap(current, next);
  }
}

}  // namespace veskor::regexp
