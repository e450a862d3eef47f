// The choice of executor for a compiled expression, and what every search shares: the cut at
// the first zero byte, the stop flag and hook, the required-bytes check before a backtracking
// search.
#include "engine/regexp/regexp.h"

#include <algorithm>
#include <cstring>

#include "engine/regexp/backtracker.h"
#include "engine/regexp/parser.h"
#include "engine/regexp/pike_vm.h"
#include "engine/regexp/required_bytes.h"

namespace veskor {
namespace {

// The zero byte is looked for in pieces of this many bytes, with the poller counted between.
constexpr size_t kZeroPiece = 16 * regexp::Poller::kInterval;

// `text` up to its first zero byte; false when the poller stopped the look.
bool CutAtZero(std::string_view& text, regexp::Poller& poller) {
  for (size_t from = 0; from < text.size(); from += kZeroPiece) {
    const size_t piece = std::min(kZeroPiece, text.size() - from);
    if (const void* zero = std::memchr(text.data() + from, 0, piece)) {
      text = text.substr(0, static_cast<size_t>(static_cast<const char*>(zero) - text.data()));
      return true;
    }
    if (poller.Tick(static_cast<int64_t>(piece) >> 4)) return false;
  }
  return true;
}

}  // namespace

CompiledRegExp::CompiledRegExp(std::string_view pattern) {
  const regexp::SyntaxTree tree = regexp::Parse(pattern);
  if (regexp::PikeVm::Supports(tree)) {
    automaton_ = std::make_unique<regexp::PikeVm>(tree);
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
  if (!CutAtZero(text, poller)) return false;
  if (automaton_) return automaton_->Search(text, poller);
  const int64_t last_start = required_->LastStart(text, poller);
  if (last_start < 0) return false;
  return backtracker_->Search(text, poller, last_start);
}

bool RegExpMatches(std::string_view pattern, std::string_view text) {
  return CompiledRegExp(pattern).Matches(text);
}

}  // namespace veskor
