// The automaton executor of the filter: runs the program of a syntax tree without
// backreferences, its counted loops unrolled, with all of its threads side by side, in time
// linear in the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/regexp/byte_scan.h"
#include "engine/regexp/compiler.h"
#include "engine/regexp/search_control.h"
#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

class PikeVm {
 public:
  // The largest program, in instructions, that the executor takes on. Counted repetitions of
  // anything but a single byte set are unrolled into copies; a tree whose copies pass this cap
  // is left to the backtracking executor.
  static constexpr size_t kMaxInstructions = 20000;

  // True when this executor can answer for the tree: no backreferences, no loop deeper than
  // kMaxLoopDepth (those raise an error in the search order, which only the backtracking
  // executor models), and a program within kMaxInstructions.
  static bool Supports(const SyntaxTree& tree);

  // The tree's program for this executor; nullopt when Supports(tree) is false.
  static std::optional<Program> ProgramFor(const SyntaxTree& tree);

  // Compiles the tree once; the object then answers for any number of texts. Raises ERegExp
  // (the unknown-error text) when Supports(tree) is false.
  explicit PikeVm(const SyntaxTree& tree);

  // Takes a program from ProgramFor.
  explicit PikeVm(Program program);

  // Does the expression match somewhere in text, starting at any position from 0 to
  // text.size() inclusive? Every byte of text is seen, zero bytes included. Only the yes/no
  // answer: greedy and lazy repetitions answer alike. Thread-compatible: const, with scratch
  // memory per thread that is reused from call to call.
  bool Search(std::string_view text) const;

  // The same, counting its work (threads stepped, bytes skipped / 16) on `poller`: answers
  // false once the poller says stop.
  bool Search(std::string_view text, Poller& poller) const;

 private:
  struct Scratch;

  // Adds the threads reachable from pc at position pos without consuming a byte to `list`;
  // true when one of them is the match.
  bool AddClosure(uint32_t pc, std::string_view text, size_t pos, Scratch& scratch,
                  std::vector<uint32_t>& list) const;

  Program program_;
  // No thread is alive and every match consumes a first byte: the search skips to the next
  // byte that can begin one.
  std::optional<ByteScanner> first_bytes_;
};

}  // namespace veskor::regexp
