// Throughput of the expression filter on typical presets over many candidates, and the
// answer time of expressions that make naive backtracking engines explode.
//
//   build/bench/regexp_bench
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/regexp/regexp.h"

namespace {

double Seconds(auto&& body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  using veskor::CompiledRegExp;
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
  } cases[] = {{"^\\d{7,}$", &digits},
               {"^555\\d{4}", &digits},
               {"(?i)pass", &words},
               {"[A-Z][a-z]+[A-Z]", &words},
               {"(\\w)\\1", &words}};
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
  std::printf("\n%-22s %12s %10s %8s\n", "catastrophic case", "text bytes", "seconds", "answer");
  struct Hard {
    const char* pattern;
    std::string text;
  } hard[] = {{"(a+)+b", std::string(200000, 'a')},
              {"(a|aa)*c", std::string(200000, 'a')},
              {"^(\\w+\\s?)*$", std::string(100000, 'a') + "!"},
              {"(.*a){12}x", std::string(50000, 'a')}};
  for (const Hard& h : hard) {
    const CompiledRegExp expression(h.pattern);
    bool answer = false;
    const double seconds = Seconds([&] { answer = expression.Matches(h.text); });
    std::printf("%-22s %12zu %10.4f %8s\n", h.pattern, h.text.size(), seconds,
                answer ? "yes" : "no");
  }
  return 0;
}
