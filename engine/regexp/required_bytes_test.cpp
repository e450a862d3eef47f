// The byte sets every match needs, as the last start they leave a text, and the stop flag
// during the scan.
#include "engine/regexp/required_bytes.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/regexp/parser.h"

namespace veskor::regexp {
namespace {

int64_t LastStart(const std::string& pattern, const std::string& text) {
  Poller poller(nullptr, {});
  return RequiredBytes(Parse(pattern)).LastStart(text, poller);
}

TEST(RequiredBytes, LastStartOfTexts) {
  std::string deep_loop;  // reaching the loop raises, so nothing may be required
  for (int i = 0; i < 11; ++i) deep_loop += '(';
  deep_loop += 'c';
  for (int i = 0; i < 11; ++i) deep_loop += "){1}";
  struct Case {
    std::string pattern, text;
    int64_t expected;
  } cases[] = {
      {"abc", "xxabcxx", 2},                    // the lowest last occurrence: a
      {"abc", "xxab", -1},                      // no c
      {"(a|b)\\1x", "zbzxz", 1},                // [ab] from the alternatives, then x
      {"(a|b)\\1x", "zzzx", -1},                //
      {"(a|)b", "aab", 2},                      // an empty alternative requires nothing
      {"a{0}b|c+", "aaa", -1},                  // [bc]: a{0} requires nothing
      {"a{0}b|c+", "cxb", 2},                   //
      {"(?i)k\\1", "xKy", 1},                   // both cases
      {"a*\\1", "zzz", 3},                      // nothing required
      {"(a)?b?", "", 0},                        //
      {deep_loop, "zzz", 3},                    //
      {"[^\\x00]x", std::string("\0x", 2), 1},  // zero bytes are bytes here
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LastStart(c.pattern, c.text), c.expected) << c.pattern << " on " << c.text;
  }
}

TEST(RequiredBytes, StopEndsTheScan) {
  const RequiredBytes required(Parse("b\\1"));
  std::string text(1 + (1 << 20), 'a');
  text[0] = 'b';
  std::atomic<bool> stop{true};
  Poller stopped(&stop, {});
  EXPECT_EQ(required.LastStart(text, stopped), -1);
  Poller unstopped(nullptr, {});
  EXPECT_EQ(required.LastStart(text, unstopped), 0);
}

}  // namespace
}  // namespace veskor::regexp
