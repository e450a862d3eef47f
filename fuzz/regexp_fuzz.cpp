// The expression filter: any pattern of up to 255 bytes against any text compiles or fails
// with ERegExp, and a search answers or is stopped through its hook within its deadline. The
// backtracking search answers (or fails) alike whether it remembers failed states or not, and
// as the filter does with its required-bytes check.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/regexp/backtracker.h"
#include "engine/regexp/parser.h"
#include "engine/regexp/regexp.h"

namespace {

using Clock = std::chrono::steady_clock;

// How a search ended.
enum class End { kNo, kYes, kLoopError, kStopped };

// Runs `search(stop, hook)` with a hook that plays the user's "Stop" once `budget` has passed,
// as backreference searches may take that long on purpose.
template <typename Search>
End Run(Search&& search, std::chrono::milliseconds budget) {
  std::atomic<bool> stop{false};
  const Clock::time_point deadline = Clock::now() + budget;
  try {
    const bool yes = search(&stop, [&] {
      if (Clock::now() > deadline) stop = true;
    });
    if (stop) return End::kStopped;
    return yes ? End::kYes : End::kNo;
  } catch (const veskor::ERegExp&) {
    return End::kLoopError;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t pattern_size = data[0] % 256;
  if (size - 1 < pattern_size) return 0;
  const std::string_view pattern(reinterpret_cast<const char*>(data + 1), pattern_size);
  std::string_view text(reinterpret_cast<const char*>(data + 1 + pattern_size),
                        size - 1 - pattern_size);
  if (text.size() > 4096) text = text.substr(0, 4096);
  End filter = End::kStopped;
  try {
    const veskor::CompiledRegExp expression(pattern);
    filter = Run([&](auto* stop, auto hook) { return expression.Matches(text, stop, hook); },
                 std::chrono::milliseconds(200));
  } catch (const veskor::ERegExp&) {
    return 0;  // a compile error: nothing to search
  }

  const veskor::regexp::SyntaxTree tree = veskor::regexp::Parse(pattern);
  using Backtracker = veskor::regexp::Backtracker;
  const std::string_view cut = text.substr(0, text.find('\0'));
  const Backtracker remembering(tree, Backtracker::Memo::kAlways);
  const Backtracker plain(tree, Backtracker::Memo::kNever);
  const End with_memo =
      Run([&](auto* stop, auto hook) { return remembering.Search(cut, stop, hook); },
          std::chrono::milliseconds(100));
  const End without = Run([&](auto* stop, auto hook) { return plain.Search(cut, stop, hook); },
                          std::chrono::milliseconds(100));
  if (without == End::kStopped) return 0;
  if (with_memo != End::kStopped && with_memo != without) abort();
  if (filter != End::kStopped && filter != without) abort();
  return 0;
}
