// The row's expression test, its compile error kept for the first string asked about.
#include "engine/run/row_filter.h"

#include "engine/regexp/regexp.h"

namespace veskor {

RowFilter::RowFilter(std::string_view expression) {
  if (expression.empty()) return;
  try {
    expression_ = std::make_unique<CompiledRegExp>(expression);
  } catch (...) {
    expression_error_ = std::current_exception();
  }
}

RowFilter::~RowFilter() = default;

bool RowFilter::Matches(std::string_view text, const std::atomic<bool>& stop,
                        const std::function<void()>& pace) const {
  if (expression_error_) std::rethrow_exception(expression_error_);
  if (!expression_) return true;
  // The hook runs every few thousand steps of a long search: on the window's thread it lets the
  // events in, so that "Stop" and a close request are seen during any expression.
  return pace ? expression_->Matches(text, &stop, SearchHook(pace))
              : expression_->Matches(text, &stop);
}

}  // namespace veskor
