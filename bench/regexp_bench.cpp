// Throughput of the expression filter on typical presets over many candidates, and the
// answer time of expressions that make naive backtracking engines explode.
//
//   build/bench/regexp_bench [LIMIT]
//
// A hard case still searching after LIMIT seconds (default 60) is stopped through the stop
// flag and shown as "stopped".
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/regexp/regexp.h"

namespace {

double Seconds(auto&& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sets *stop once `limit` seconds have passed, unless the search ended first.
class Watchdog {
 public:
  Watchdog(std::atomic<bool>& stop, double limit)
      : thread_([this, &stop, limit] {
          std::unique_lock lock(mutex_);
          if (!done_cv_.wait_for(lock, std::chrono::duration<double>(limit),
                                 [&] { return done_; })) {
            stop.store(true);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  using veskor::CompiledRegExp;
  const double limit = argc > 1 ? std::atof(argv[1]) : 60.0;
  std::mt19937 rng(7);
  // Candidates as a digits preset and a words preset would pass them: 7 to 40 bytes each.
  std::vector<std::string> digits, words;
  for (int i = 0; i < 200000; ++i) {
    std::string d, w;
    const int length = 7 + static_cast<int>(rng() % 34);
    for (int j = 0; j < length; ++j) {
      d.push_back(static_cast<char>('0' + rng() % 10));
      w.push_back(static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26));
    }
    digits.push_back(d);
    words.push_back(w);
  }
  struct Case {
    const char* pattern;
    const std::vector<std::string>* texts;
  } cases[] = {{"^\\d{7,}$", &digits},       {"^555\\d{4}", &digits}, {"(?i)pass", &words},
               {"[A-Z][a-z]+[A-Z]", &words}, {"(\\w)\\1", &words},    {"(\\d)(\\d)\\2\\1", &digits},
               {"(\\w)\\w*\\1", &words},     {"^(\\w+?)\\1", &words}};
  std::printf("%-22s %12s %12s %10s %8s\n", "pattern", "candidates", "MiB", "ns/byte", "matches");
  for (const Case& c : cases) {
    const CompiledRegExp expression(c.pattern);
    size_t bytes = 0, matches = 0;
    for (const auto& t : *c.texts) bytes += t.size();
    const double seconds = Seconds([&] {
      for (const auto& t : *c.texts) matches += expression.Matches(t);
    });
    std::printf("%-22s %12zu %12.1f %10.2f %8zu\n", c.pattern, c.texts->size(), bytes / 1048576.0,
                seconds * 1e9 / bytes, matches);
  }
  std::printf("\n%-22s %-14s %10s %10s %8s\n", "catastrophic case", "text", "bytes", "seconds",
              "answer");
  const std::string a28(28, 'a'), a32(32, 'a'), a800(800, 'a');
  struct Hard {
    const char* pattern;
    const char* shape;
    std::string text;
  } hard[] = {
      {"(a+)+b", "a{200000}", std::string(200000, 'a')},
      {"(a|aa)*c", "a{200000}", std::string(200000, 'a')},
      {"^(\\w+\\s?)*$", "a{100000}!", std::string(100000, 'a') + "!"},
      {"(.*a){12}x", "a{50000}", std::string(50000, 'a')},
      // Backreferences: no b at all (the required byte is missing), then a b that cannot
      // complete a match, so that the search itself has to answer.
      {"^(a|a)*\\1b$", "a{28}", a28},
      {"^(a|a)*\\1b$", "a{32}", a32},
      {"^(a|a)*\\1b$", "a{28}ba", a28 + "ba"},
      {"^(a|a)*\\1b$", "a{32}ba", a32 + "ba"},
      {"^(a|a)*\\1b$", "a{5000}ba", std::string(5000, 'a') + "ba"},
      {"(a|a)*\\1b$", "a{2000}ba", std::string(2000, 'a') + "ba"},
      {"(a+)+\\1b", "a{30}ca", std::string(30, 'a') + "ca"},
      {"(.*)(.*)(.*)\\1\\2\\3b", "a{800}", a800},
      {"(.*)(.*)(.*)\\1\\2\\3b", "a{800}b", a800 + "b"},
      {"(.*)(.*)(.*)\\1\\2\\3b", "ba{800}", std::string("b") + a800},
      {"(.*)(.*)(.*)\\1\\2\\3b$", "ba{100}", std::string("b") + std::string(100, 'a')},
  };
  for (const Hard& h : hard) {
    const CompiledRegExp expression(h.pattern);
    std::atomic<bool> stop{false};
    bool answer = false;
    const double seconds = Seconds([&] {
      Watchdog watchdog(stop, limit);
      answer = expression.Matches(h.text, &stop);
    });
    std::printf("%-22s %-14s %10zu %10.4f %8s\n", h.pattern, h.shape, h.text.size(), seconds,
                stop     ? "stopped"
                : answer ? "yes"
                         : "no");
    std::fflush(stdout);
  }
  return 0;
}
