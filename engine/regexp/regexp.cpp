// The choice of executor for a compiled expression.
#include "engine/regexp/regexp.h"

#include "engine/regexp/backtracker.h"
#include "engine/regexp/parser.h"
#include "engine/regexp/pike_vm.h"

namespace veskor {

CompiledRegExp::CompiledRegExp(std::string_view pattern) {
  const regexp::SyntaxTree tree = regexp::Parse(pattern);
  if (regexp::PikeVm::Supports(tree)) {
    automaton_ = std::make_unique<regexp::PikeVm>(tree);
  } else {
    backtracker_ = std::make_unique<regexp::Backtracker>(tree);
  }
}

CompiledRegExp::~CompiledRegExp() = default;
CompiledRegExp::CompiledRegExp(CompiledRegExp&&) noexcept = default;
CompiledRegExp& CompiledRegExp::operator=(CompiledRegExp&&) noexcept = default;

bool CompiledRegExp::Matches(std::string_view text, const std::atomic<bool>* stop) const {
  if (const size_t zero = text.find('\0'); zero != std::string_view::npos) {
    text = text.substr(0, zero);
  }
  if (automaton_) return automaton_->Search(text);
  return backtracker_->Search(text, stop);
}

bool RegExpMatches(std::string_view pattern, std::string_view text) {
  return CompiledRegExp(pattern).Matches(text);
}

}  // namespace veskor
