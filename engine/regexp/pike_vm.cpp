// The automaton executor: compiles the syntax tree into a program without recursion and runs
// its threads in lock step over the text, one thread per instruction and position.
#include "engine/regexp/pike_vm.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/regexp/assertions.h"
#include "engine/regexp/regexp_error.h"

namespace veskor::regexp {
namespace {

// Sizes saturate here: anything above the cap is simply "too big".
constexpr uint64_t kTooBig = PikeVm::kMaxInstructions + 1;

// Sees through groups and one-child sequences, which add nothing to what a node matches.
int Unwrap(const SyntaxTree& tree, int index) {
  for (;;) {
    const Node& node = tree.nodes[index];
    if ((node.kind != NodeKind::kGroup && node.kind != NodeKind::kConcat) ||
        node.children.size() != 1) {
      return index;
    }
    index = node.children[0];
  }
}

// A repetition of a single byte set that gets a counter instruction. *, + and ? stay plain
// loops: they cost no more that way.
bool IsCounted(const SyntaxTree& tree, const Node& node) {
  if (node.kind != NodeKind::kRepeat) return false;
  if (tree.nodes[Unwrap(tree, node.children[0])].kind != NodeKind::kByteSet) return false;
  const bool plain = node.min <= 1 && (node.max == kInfinite || node.max <= 1);
  return !plain;
}

// Instructions for `n` to `m` copies of a body of `s` instructions: n copies, then either a
// loop over one more copy (m unbounded) or m - n copies each preceded by a way out.
uint64_t RepeatSize(uint64_t n, uint32_t m, uint64_t s) {
  if (m == 0 || s == 0) return 0;
  if (m == kInfinite) return n == 0 ? s + 2 : n * s + 1;
  return n * s + (m - n) * (s + 1);
}

// The program size of every node reachable from the root, saturated at kTooBig.
std::vector<uint64_t> ComputeSizes(const SyntaxTree& tree) {
  std::vector<uint64_t> sizes(tree.nodes.size(), 0);
  std::vector<std::pair<int, bool>> stack{{tree.root, false}};
  while (!stack.empty()) {
    const auto [index, children_done] = stack.back();
    stack.pop_back();
    const Node& node = tree.nodes[index];
    if (!children_done) {
      stack.emplace_back(index, true);
      for (int child : node.children) stack.emplace_back(child, false);
      continue;
    }
    uint64_t size = 0;
    switch (node.kind) {
      case NodeKind::kEmpty:
        break;
      case NodeKind::kByteSet:
      case NodeKind::kAssertion:
      case NodeKind::kBackReference:
        size = 1;
        break;
      case NodeKind::kGroup:
      case NodeKind::kConcat:
        for (int child : node.children) size += sizes[child];
        break;
      case NodeKind::kAlternation:
        for (int child : node.children) size += sizes[child];
        if (!node.children.empty()) size += 2 * (node.children.size() - 1);
        break;
      case NodeKind::kRepeat:
        if (node.max == 0) {
          size = 0;
        } else if (IsCounted(tree, node)) {
          size = 1;
        } else {
          size = RepeatSize(node.min, node.max, sizes[node.children[0]]);
        }
        break;
    }
    sizes[index] = std::min(size, kTooBig);
  }
  return sizes;
}

}  // namespace

// Per-thread working memory, kept from call to call so that a search allocates nothing once
// it has seen a text as long as the current one.
struct PikeVm::Scratch {
  // The entry positions of the threads inside one counter, oldest first.
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
  std::vector<Queue> queues;  // one per counter

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

bool PikeVm::Supports(const SyntaxTree& tree) {
  if (tree.has_back_references || tree.max_loop_depth > kMaxLoopDepth) return false;
  if (tree.nodes.empty()) return false;
  for (const Node& node : tree.nodes) {
    if (node.kind == NodeKind::kBackReference || node.loop_depth > kMaxLoopDepth) return false;
  }
  return ComputeSizes(tree)[tree.root] + 1 <= kMaxInstructions;
}

PikeVm::PikeVm(const SyntaxTree& tree) {
  if (!Supports(tree)) throw ExecError(0);
  const std::vector<uint64_t> sizes = ComputeSizes(tree);

  // Emission runs over an explicit stack of pending work in program order. All sizes are
  // known beforehand, so every jump target is computed when its instruction is queued.
  struct Work {
    int node = -1;  // a node to expand, or -1 for `instruction` itself
    Instruction instruction;
  };
  auto split = [](uint64_t x, uint64_t y) {
    return Work{-1, Instruction{Op::kSplit, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)}};
  };
  auto jump = [](uint64_t x) {
    return Work{-1, Instruction{Op::kJump, 0, static_cast<uint32_t>(x), 0}};
  };
  auto node_work = [](int node) { return Work{node, Instruction{}}; };

  program_.reserve(sizes[tree.root] + 1);
  std::vector<Work> stack{node_work(tree.root)};
  std::vector<Work> sequence;
  while (!stack.empty()) {
    const Work work = stack.back();
    stack.pop_back();
    if (work.node < 0) {
      program_.push_back(work.instruction);
      continue;
    }
    const Node& node = tree.nodes[work.node];
    const uint64_t start = program_.size();
    sequence.clear();
    switch (node.kind) {
      case NodeKind::kEmpty:
      case NodeKind::kBackReference:  // refused by Supports
        break;
      case NodeKind::kByteSet: {
        Bits bits;
        for (int byte = 0; byte < 256; ++byte) {
          if (node.set[byte]) bits.Add(static_cast<unsigned char>(byte));
        }
        sets_.push_back(bits);
        program_.push_back({Op::kByte, static_cast<uint32_t>(sets_.size() - 1), 0, 0});
        break;
      }
      case NodeKind::kAssertion:
        program_.push_back({Op::kAssert, static_cast<uint32_t>(node.assertion), 0, 0});
        break;
      case NodeKind::kGroup:
      case NodeKind::kConcat:
        for (int child : node.children) sequence.push_back(node_work(child));
        break;
      case NodeKind::kAlternation: {
        const uint64_t end = start + sizes[work.node];
        uint64_t pc = start;
        for (size_t i = 0; i < node.children.size(); ++i) {
          const int child = node.children[i];
          if (i + 1 == node.children.size()) {
            sequence.push_back(node_work(child));
          } else {
            sequence.push_back(split(pc + 1, pc + 2 + sizes[child]));
            sequence.push_back(node_work(child));
            sequence.push_back(jump(end));
            pc += sizes[child] + 2;
          }
        }
        break;
      }
      case NodeKind::kRepeat: {
        if (node.max == 0) break;
        const int body = node.children[0];
        if (IsCounted(tree, node)) {
          const Node& set_node = tree.nodes[Unwrap(tree, body)];
          Bits bits;
          for (int byte = 0; byte < 256; ++byte) {
            if (set_node.set[byte]) bits.Add(static_cast<unsigned char>(byte));
          }
          sets_.push_back(bits);
          counters_.push_back({static_cast<uint32_t>(sets_.size() - 1), node.min, node.max});
          program_.push_back({Op::kCounter, static_cast<uint32_t>(counters_.size() - 1), 0, 0});
          break;
        }
        const uint64_t s = sizes[body];
        const uint64_t n = node.min;
        if (s == 0) break;
        if (node.max == kInfinite) {
          if (n == 0) {
            sequence.push_back(split(start + 1, start + s + 2));
            sequence.push_back(node_work(body));
            sequence.push_back(jump(start));
          } else {
            for (uint64_t i = 0; i < n; ++i) sequence.push_back(node_work(body));
            const uint64_t loop = start + (n - 1) * s;
            sequence.push_back(split(loop, loop + s + 1));
          }
        } else {
          for (uint64_t i = 0; i < n; ++i) sequence.push_back(node_work(body));
          const uint64_t end = start + sizes[work.node];
          uint64_t pc = start + n * s;
          for (uint64_t i = n; i < node.max; ++i) {
            sequence.push_back(split(pc + 1, end));
            sequence.push_back(node_work(body));
            pc += s + 1;
          }
        }
        break;
      }
    }
    stack.insert(stack.end(), sequence.rbegin(), sequence.rend());
  }
  program_.push_back({Op::kMatch, 0, 0, 0});
  if (program_.size() != sizes[tree.root] + 1) throw ExecError(0);
  Analyse();
}

// Finds out whether every match starts with the text-start test, and which bytes a match can
// begin with, by walking the instructions reachable from the start without consuming a byte.
// Assertions are taken as passed, which only widens the byte set.
void PikeVm::Analyse() {
  std::vector<char> seen(program_.size(), 0);
  std::vector<uint32_t> stack;

  anchored_ = true;
  stack.push_back(0);
  while (!stack.empty() && anchored_) {
    const uint32_t pc = stack.back();
    stack.pop_back();
    if (seen[pc]) continue;
    seen[pc] = 1;
    const Instruction& in = program_[pc];
    switch (in.op) {
      case Op::kAssert:
        if (static_cast<AssertionKind>(in.arg) != AssertionKind::kTextStart)
          stack.push_back(pc + 1);
        break;
      case Op::kSplit:
        stack.push_back(in.x);
        stack.push_back(in.y);
        break;
      case Op::kJump:
        stack.push_back(in.x);
        break;
      case Op::kByte:
      case Op::kCounter:
      case Op::kMatch:
        anchored_ = false;
        break;
    }
  }

  std::fill(seen.begin(), seen.end(), 0);
  stack.assign(1, 0);
  bool can_match_empty = false;
  Bits first;
  while (!stack.empty()) {
    const uint32_t pc = stack.back();
    stack.pop_back();
    if (seen[pc]) continue;
    seen[pc] = 1;
    const Instruction& in = program_[pc];
    switch (in.op) {
      case Op::kAssert:
        stack.push_back(pc + 1);
        break;
      case Op::kSplit:
        stack.push_back(in.x);
        stack.push_back(in.y);
        break;
      case Op::kJump:
        stack.push_back(in.x);
        break;
      case Op::kByte:
      case Op::kCounter: {
        const bool counter = in.op == Op::kCounter;
        const Bits& set = sets_[counter ? counters_[in.arg].set : in.arg];
        for (int w = 0; w < 4; ++w) first.words[w] |= set.words[w];
        if (counter && counters_[in.arg].min == 0) stack.push_back(pc + 1);
        break;
      }
      case Op::kMatch:
        can_match_empty = true;
        break;
    }
  }
  int count = 0;
  for (int byte = 0; byte < 256; ++byte) {
    if (first.Has(static_cast<unsigned char>(byte))) {
      ++count;
      first_byte_ = byte;
    }
  }
  if (count != 1) first_byte_ = -1;
  first_bytes_ = first;
  use_first_bytes_ = !anchored_ && !can_match_empty && count < 256;
}

bool PikeVm::AddClosure(uint32_t pc, std::string_view text, size_t pos, Scratch& scratch,
                        std::vector<uint32_t>& list) const {
  std::vector<uint32_t>& stack = scratch.stack;
  stack.clear();
  stack.push_back(pc);
  while (!stack.empty()) {
    pc = stack.back();
    stack.pop_back();
    const Instruction& in = program_[pc];
    switch (in.op) {
      case Op::kByte:
        if (scratch.Mark(pc)) list.push_back(pc);
        break;
      case Op::kCounter: {
        // A thread entering the counter here: with an unbounded count only the oldest entry
        // matters, as it has consumed the most and can never be dropped.
        const Counter& counter = counters_[in.arg];
        Scratch::Queue& queue = scratch.queues[in.arg];
        if (queue.Empty() || (counter.max != kInfinite && queue.Newest() != pos)) {
          queue.Push(pos);
        }
        if (scratch.Mark(pc)) list.push_back(pc);
        if (pos - queue.Oldest() >= counter.min && queue.exit_stamp != scratch.generation) {
          queue.exit_stamp = scratch.generation;
          stack.push_back(pc + 1);
        }
        break;
      }
      case Op::kSplit:
        if (scratch.Mark(pc)) {
          stack.push_back(in.y);
          stack.push_back(in.x);
        }
        break;
      case Op::kJump:
        if (scratch.Mark(pc)) stack.push_back(in.x);
        break;
      case Op::kAssert:
        if (scratch.Mark(pc) &&
            AssertionHolds(static_cast<AssertionKind>(in.arg),
                           reinterpret_cast<const uint8_t*>(text.data()), text.size(), pos)) {
          stack.push_back(pc + 1);
        }
        break;
      case Op::kMatch:
        return true;
    }
  }
  return false;
}

bool PikeVm::Search(std::string_view text) const {
  Poller poller(nullptr, {});
  return Search(text, poller);
}

bool PikeVm::Search(std::string_view text, Poller& poller) const {
  // Skipping to a first byte goes in pieces of this many bytes, with the poller counted between.
  constexpr size_t kSkipPiece = 16 * Poller::kInterval;
  ScratchLease<Scratch> lease;
  Scratch& scratch = *lease;
  if (scratch.stamp.size() < program_.size()) scratch.stamp.resize(program_.size(), 0);
  if (scratch.queues.size() < counters_.size()) scratch.queues.resize(counters_.size());
  for (size_t i = 0; i < counters_.size(); ++i) scratch.queues[i].Clear();
  std::vector<uint32_t>& current = scratch.current;
  std::vector<uint32_t>& next = scratch.next;
  current.clear();
  scratch.NewGeneration();

  const size_t size = text.size();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t pos = 0;; ++pos) {
    if (poller.Tick(1 + static_cast<int64_t>(current.size()))) return false;
    if (current.empty()) {
      if (anchored_ && pos > 0) return false;
      if (use_first_bytes_) {
        // No thread is alive: the next match can only start at a byte it can begin with.
        size_t found = pos;
        for (;;) {
          const size_t end = std::min(size, found + kSkipPiece);
          if (first_byte_ >= 0) {
            const void* hit = std::memchr(bytes + found, first_byte_, end - found);
            found = hit ? static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes) : end;
          } else {
            while (found < end && !first_bytes_.Has(bytes[found])) ++found;
          }
          if (found < end || end == size) break;
          if (poller.Tick(kSkipPiece >> 4)) return false;
        }
        if (found == size) return false;
        if (found != pos) {
          pos = found;
          scratch.NewGeneration();
        }
      }
    }
    if ((pos == 0 || !anchored_) && AddClosure(0, text, pos, scratch, current)) return true;
    if (pos == size) return false;

    // One byte: first move every counter's entries past it, then let each thread go on.
    const unsigned char byte = bytes[pos];
    const size_t after = pos + 1;
    scratch.NewGeneration();
    next.clear();
    for (uint32_t pc : current) {
      const Instruction& in = program_[pc];
      if (in.op != Op::kCounter) continue;
      const Counter& counter = counters_[in.arg];
      Scratch::Queue& queue = scratch.queues[in.arg];
      if (!sets_[counter.set].Has(byte)) {
        queue.Clear();
      } else if (counter.max != kInfinite) {
        while (!queue.Empty() && after - queue.Oldest() > counter.max) ++queue.head;
      }
    }
    for (uint32_t pc : current) {
      const Instruction& in = program_[pc];
      if (in.op == Op::kByte) {
        if (sets_[in.arg].Has(byte) && AddClosure(pc + 1, text, after, scratch, next)) return true;
        continue;
      }
      const Counter& counter = counters_[in.arg];
      Scratch::Queue& queue = scratch.queues[in.arg];
      if (queue.Empty()) continue;
      if (scratch.Mark(pc)) next.push_back(pc);
      if (after - queue.Oldest() >= counter.min && queue.exit_stamp != scratch.generation) {
        queue.exit_stamp = scratch.generation;
        if (AddClosure(pc + 1, text, after, scratch, next)) return true;
      }
    }
    std::swap(current, next);
  }
}

}  // namespace veskor::regexp
