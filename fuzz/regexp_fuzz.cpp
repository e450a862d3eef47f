// The expression filter: any pattern of up to 255 bytes against any text compiles or fails
// with ERegExp, and a search answers or is stopped; a watchdog plays the user's "Stop" after
// 200 ms, as backreference searches may take that long on purpose.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <thread>

#include "engine/regexp/regexp.h"

namespace {

std::atomic<bool> stop{false};
std::atomic<int64_t> deadline{0};

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void StartWatchdog() {
  static std::thread watchdog([] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      const int64_t until = deadline.load();
      if (until != 0 && Now() > until) stop.store(true);
    }
  });
  watchdog.detach();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = (StartWatchdog(), true);
  (void)started;
  if (size == 0) return 0;
  const size_t pattern_size = data[0] % 256;
  if (size - 1 < pattern_size) return 0;
  const std::string_view pattern(reinterpret_cast<const char*>(data + 1), pattern_size);
  std::string_view text(reinterpret_cast<const char*>(data + 1 + pattern_size),
                        size - 1 - pattern_size);
  if (text.size() > 4096) text = text.substr(0, 4096);
  try {
    const veskor::CompiledRegExp expression(pattern);
    stop.store(false);
    deadline.store(Now() + 200);
    expression.Matches(text, &stop);
    deadline.store(0);
  } catch (const veskor::ERegExp&) {
    deadline.store(0);
  }
  return 0;
}
