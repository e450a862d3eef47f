// The row's expression (engine/regexp) behind the search's string filter.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string_view>

#include "engine/search/string_filter.h"

namespace veskor {

class CompiledRegExp;

// The expression compiled once, its compile error raised at the first string asked about (never
// before): a row whose strings all fail the length tests runs without the error.
class RowFilter : public StringFilter {
 public:
  explicit RowFilter(std::string_view expression);
  ~RowFilter() override;

  // An empty expression accepts every text.
  bool Matches(std::string_view text, const std::atomic<bool>& stop,
               const std::function<void()>& pace) const override;

 private:
  std::unique_ptr<CompiledRegExp> expression_;
  std::exception_ptr expression_error_;
};

}  // namespace veskor
