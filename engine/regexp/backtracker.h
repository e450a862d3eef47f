// The backtracking executor of the filter: answers the search question for any syntax tree,
// including backreferences and loops nested too deep for the automaton.
#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

class Backtracker {
 public:
  // Compiles `tree` into a program once; the object can then search any number of texts.
  explicit Backtracker(const SyntaxTree& tree);

  // Does the expression match somewhere in `text`? Starts are tried left to right, from 0 to
  // text.size() inclusive; at each start alternatives are tried left to right, greedy
  // repetitions longest first and lazy ones shortest first, and the first success answers
  // true. Every byte of `text` is seen, zero bytes included.
  // Returns false as soon as *stop is true (it is read at the start and then every few
  // thousand steps); `stop` may be null.
  // Throws ExecError(kLoopStackExceeded) when the search reaches the entry of a loop nested
  // deeper than kMaxLoopDepth before any success.
  // Thread-compatible: const, with scratch memory per thread.
  bool Search(std::string_view text, const std::atomic<bool>* stop) const;

 private:
  struct Program;
  std::shared_ptr<const Program> program_;
};

}  // namespace veskor::regexp
