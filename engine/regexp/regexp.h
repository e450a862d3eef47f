// The regular-expression filter: does a preset's expression match somewhere in a string?
#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "engine/regexp/regexp_error.h"

namespace veskor {

namespace regexp {
class Backtracker;
class PikeVm;
}  // namespace regexp

// An expression compiled once and asked about many strings. Expressions without
// backreferences are answered by an automaton in time linear in the string's length; the
// others by a backtracking search that gives up when *stop becomes true.
class CompiledRegExp {
 public:
  // Raises ERegExp with the compile error's text and position.
  explicit CompiledRegExp(std::string_view pattern);
  ~CompiledRegExp();
  CompiledRegExp(CompiledRegExp&&) noexcept;
  CompiledRegExp& operator=(CompiledRegExp&&) noexcept;

  // The search question; the string ends at its first zero byte. May raise the loop error.
  // Answers false when *stop is set while a backtracking search runs.
  bool Matches(std::string_view text, const std::atomic<bool>* stop = nullptr) const;

 private:
  std::unique_ptr<regexp::PikeVm> automaton_;
  std::unique_ptr<regexp::Backtracker> backtracker_;
};

// A self-contained call: compiles the pattern and searches the text.
bool RegExpMatches(std::string_view pattern, std::string_view text);

}  // namespace veskor
