// The backtracking executor of the filter: answers the search question for any syntax tree,
// including backreferences and loops nested too deep for the automaton.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>

#include "engine/regexp/byte_scan.h"
#include "engine/regexp/search_control.h"
#include "engine/regexp/syntax_tree.h"

namespace veskor::regexp {

struct Program;

class Backtracker {
 public:
  // When the search starts remembering the states it has failed from, to fail at once when it
  // meets one again. kWhenSlow: once it has taken more steps than a search linear in the text
  // would (short and easy searches pay nothing); kAlways: from the first step (the tests
  // compare this with the reference); kNever: not at all.
  enum class Memo { kWhenSlow, kAlways, kNever };

  // The most memory the remembered states take, per search: a bit per (instruction, position)
  // where nothing else decides what follows, and a hash set of keys otherwise. Past these
  // caps nothing more is remembered; the search stays correct and stoppable.
  // In all at most 64 MiB per searching thread, given back when the search ends.
  static constexpr uint64_t kMaxMemoBits = uint64_t{1} << 28;      // 32 MiB
  static constexpr uint64_t kMaxMemoEntries = uint64_t{1} << 20;   // in 16 MiB of slots
  static constexpr uint64_t kMaxMemoKeyWords = uint64_t{1} << 22;  // 16 MiB of 32-bit words

  // Compiles `tree` (with loops over registers) once; the object can then search any number of
  // texts.
  explicit Backtracker(const SyntaxTree& tree, Memo memo = Memo::kWhenSlow);

  // Does the expression match somewhere in `text`? Starts are tried left to right, from 0 to
  // text.size() inclusive (or to last_start when that is lower: the caller knows that no match
  // begins later); at each start alternatives are tried left to right, greedy repetitions
  // longest first and lazy ones shortest first, and the first success answers true. Every byte
  // of `text` is seen, zero bytes included.
  // Returns false as soon as *stop is true: it is read at the start and then every few thousand
  // steps, right after `hook` is run; `stop` and `hook` may be null.
  // Throws ExecError(kLoopStackExceeded) when the search reaches the entry of a loop nested
  // deeper than kMaxLoopDepth before any success. Remembering failed states changes neither
  // the answers nor the errors.
  // Thread-compatible: const, with scratch memory per thread (and per nesting level, should the
  // hook start another search).
  bool Search(std::string_view text, const std::atomic<bool>* stop, SearchHook hook = {},
              int64_t last_start = std::numeric_limits<int64_t>::max()) const;

  // Searches with a poller that the caller already counts work on.
  bool Search(std::string_view text, Poller& poller, int64_t last_start) const;

 private:
  std::shared_ptr<const Program> program_;
  // Skips to the bytes a match can begin with, when it has to consume one first.
  std::optional<ByteScanner> first_bytes_;
  Memo memo_;
};

}  // namespace veskor::regexp
