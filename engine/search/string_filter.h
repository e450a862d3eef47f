// What the search asks of a row's expression: whether a string it found is taken. The run
// supplies it (engine/run/row_filter); the search only asks.
#pragma once

#include <atomic>
#include <functional>
#include <string_view>

namespace veskor {

// The workers of a search share one filter, so every call is const and safe from several threads.
class StringFilter {
 public:
  virtual ~StringFilter() = default;
  // Does the row's expression accept the text? Asked only for strings that pass both length
  // tests, and only when the row has an expression. May raise the expression's error. A set
  // `stop` ends a long search (the answer is then false); `pace` is called now and then during
  // one.
  virtual bool Matches(std::string_view text, const std::atomic<bool>& stop,
                       const std::function<void()>& pace) const = 0;
};

}  // namespace veskor
