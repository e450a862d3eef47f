// The run's expression test and line format.
#include "engine/line_maker.h"

#include "engine/regexp/regexp.h"

namespace veskor {

RowLineMaker::RowLineMaker(std::string_view expression, std::string_view format, bool write_lines)
    : write_lines_(write_lines), format_(format) {
  if (expression.empty()) return;
  try {
    expression_ = std::make_unique<CompiledRegExp>(expression);
  } catch (...) {
    expression_error_ = std::current_exception();
  }
}

RowLineMaker::~RowLineMaker() = default;

bool RowLineMaker::Matches(std::string_view text, const std::atomic<bool>& stop,
                           const std::function<void()>& pace) const {
  if (expression_error_) std::rethrow_exception(expression_error_);
  if (!expression_) return true;
  // The hook runs every few thousand steps of a long search: on the window's thread it lets the
  // events in, so that "Stop" and a close request are seen during any expression.
  return pace ? expression_->Matches(text, &stop, SearchHook(pace))
              : expression_->Matches(text, &stop);
}

void RowLineMaker::AppendLine(LineBuffer& out, int32_t key, int32_t width, int64_t position,
                              std::string_view text) const {
  if (write_lines_) format_.Append(out, key, width, position, text, "\r\n");
}

void RowLineMaker::WriteLine(ByteSink& out, int32_t key, int32_t width, int64_t position,
                             const LongText& text) const {
  if (!write_lines_) return;
  format_.Write(out, key, width, position, text);
  out.Write("\r\n");
}

}  // namespace veskor
