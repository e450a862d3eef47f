// The regular-expression filter: does a preset's expression match somewhere in a string?
#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "engine/regexp/regexp_error.h"
#include "engine/regexp/search_control.h"

namespace veskor {

namespace regexp {
class Backtracker;
class PikeVm;
class RequiredBytes;
}  // namespace regexp

// An expression compiled once and asked about many strings. Expressions without
// backreferences are answered by an automaton in time linear in the string's length; the
// others by a backtracking search, after a check that the string holds the bytes every match
// needs. Either gives up when *stop becomes true.
class CompiledRegExp {
 public:
  // Raises ERegExp with the compile error's text and position.
  explicit CompiledRegExp(std::string_view pattern);
  ~CompiledRegExp();
  CompiledRegExp(CompiledRegExp&&) noexcept;
  CompiledRegExp& operator=(CompiledRegExp&&) noexcept;

  // The search question; the string ends at its first zero byte. May raise the loop error.
  // Answers false when *stop is set before or while the search runs. Every few thousand steps
  // (or bytes) of a long search, `hook` is run and then *stop is read, so that a caller on the
  // window's thread can process events there. `stop` and `hook` may be null.
  // Safe to call from several threads at once: const, with scratch memory per thread.
  bool Matches(std::string_view text, const std::atomic<bool>* stop = nullptr,
               SearchHook hook = {}) const;

 private:
  std::unique_ptr<regexp::PikeVm> automaton_;
  std::unique_ptr<regexp::Backtracker> backtracker_;
  std::unique_ptr<regexp::RequiredBytes> required_;
};

// A self-contained call: compiles the pattern and searches the text.
bool RegExpMatches(std::string_view pattern, std::string_view text);

}  // namespace veskor
