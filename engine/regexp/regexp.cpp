// The choice of executor for a compiled expression, and what every search shares: the cut at
// the first zero byte, the stop flag and hook, the required-bytes check before a backtracking
// search.
#include "engine/regexp/regexp.h"

#include <cstdint>
#include <optional>
#include <utility>

#include "engine/regexp/backtracker.h"
#include "engine/regexp/byte_scan.h"
#include "engine/regexp/parser.h"
#include "engine/regexp/pike_vm.h"
#include "engine/regexp/required_bytes.h"

namespace veskor {

CompiledRegExp::CompiledRegExp(std::string_view pattern) {
  const regexp::SyntaxTree tree = regexp::Parse(pattern);
  if (std::optional<regexp::Program> program = regexp::PikeVm::ProgramFor(tree)) {
    automaton_ = std::make_unique<regexp::PikeVm>(std::move(*program));
  } else {
    backtracker_ = std::make_unique<regexp::Backtracker>(tree);
    required_ = std::make_unique<regexp::RequiredBytes>(tree);
  }
}

CompiledRegExp::~CompiledRegExp() = default;
CompiledRegExp::CompiledRegExp(CompiledRegExp&&) noexcept = default;
CompiledRegExp& CompiledRegExp::operator=(CompiledRegExp&&) noexcept = default;

bool CompiledRegExp::Matches(std::string_view text, const std::atomic<bool>* stop,
                             SearchHook hook) const {
  if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
  regexp::Poller poller(stop, hook);
  // The string ends at its first zero byte.
  const int64_t zero =
      regexp::ByteScanner::FirstByte(0, reinterpret_cast<const uint8_t*>(text.data()), 0,
                                     static_cast<int64_t>(text.size()), poller);
  if (zero < 0) return false;
  text = text.substr(0, static_cast<size_t>(zero));
  if (automaton_) return automaton_->Search(text, poller);
  const int64_t last_start = required_->LastStart(text, poller);
  if (last_start < 0) return false;
  return backtracker_->Search(text, poller, last_start);
}

bool RegExpMatches(std::string_view pattern, std::string_view text) {
  return CompiledRegExp(pattern).Matches(text);
}

}  // namespace veskor
