// The automaton executor of the filter: compiles a syntax tree without backreferences into a
// program of byte tests and runs all of its threads side by side, in time linear in the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/regexp/search_control.h"
#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

class PikeVm {
 public:
  // The largest program, in instructions, that the executor takes on. Counted repetitions of
  // anything but a single byte set are expanded into copies; a tree whose expansion passes
  // this cap is left to the backtracking executor.
  static constexpr size_t kMaxInstructions = 20000;

  // True when this executor can answer for the tree: no backreferences, no loop deeper than
  // kMaxLoopDepth (those raise an error in the search order, which only the backtracking
  // executor models), and a program within kMaxInstructions.
  static bool Supports(const SyntaxTree& tree);

  // Compiles the tree once; the object then answers for any number of texts. Raises ERegExp
  // (the unknown-error text) when Supports(tree) is false.
  explicit PikeVm(const SyntaxTree& tree);

  // Does the expression match somewhere in text, starting at any position from 0 to
  // text.size() inclusive? Every byte of text is seen, zero bytes included. Only the yes/no
  // answer: greedy and lazy repetitions answer alike. Thread-compatible: const, with scratch
  // memory per thread that is reused from call to call.
  bool Search(std::string_view text) const;

  // The same, counting its work (threads stepped, bytes skipped / 16) on `poller`: answers
  // false once the poller says stop.
  bool Search(std::string_view text, Poller& poller) const;

 private:
  enum class Op : uint8_t {
    kByte,     // consume a byte of sets_[arg], go on at pc + 1
    kCounter,  // counters_[arg]: a counted repetition of one byte set, leaves to pc + 1
    kSplit,    // go on at x and at y
    kJump,     // go on at x
    kAssert,   // a zero-width test (AssertionKind arg), go on at pc + 1
    kMatch,
  };

  struct Instruction {
    Op op = Op::kMatch;
    uint32_t arg = 0;
    uint32_t x = 0;
    uint32_t y = 0;
  };

  // 256 bits, one per byte value.
  struct Bits {
    uint64_t words[4] = {0, 0, 0, 0};
    bool Has(unsigned char byte) const { return (words[byte >> 6] >> (byte & 63)) & 1; }
    void Add(unsigned char byte) { words[byte >> 6] |= uint64_t{1} << (byte & 63); }
  };

  // A repetition {min, max} of one byte set; max is kInfinite when unbounded.
  struct Counter {
    uint32_t set = 0;
    uint32_t min = 0;
    uint32_t max = 0;
  };

  struct Scratch;

  // Adds the threads reachable from pc at position pos without consuming a byte to `list`;
  // true when one of them is the match.
  bool AddClosure(uint32_t pc, std::string_view text, size_t pos, Scratch& scratch,
                  std::vector<uint32_t>& list) const;
  void Analyse();

  std::vector<Instruction> program_;
  std::vector<Bits> sets_;
  std::vector<Counter> counters_;
  // Every match begins with the text-start test: threads are started at position 0 only.
  bool anchored_ = false;
  // Every match consumes a first byte from first_bytes_: positions whose byte is outside it
  // are skipped while no thread is alive. first_byte_ >= 0 when the set is that single byte.
  bool use_first_bytes_ = false;
  Bits first_bytes_;
  int first_byte_ = -1;
};

}  // namespace veskor::regexp
