// The starter presets' source syntax: alphabets with ranges and escapes, a whole entry, and the
// faults that stop the build with their line.
#include "presets/starter/starter_source.h"

#include <gtest/gtest.h>

#include <optional>

namespace veskor {
namespace {

TEST(StarterSource, AlphabetsExpandToTheirBytesInTheOrderWritten) {
  const struct {
    const char* written;
    std::optional<std::string> bytes;  // nullopt: refused
  } cases[] = {
      {"cba", "cba"},
      {"a-cb", "abc"},
      {R"(\t\x20-\x22)", "\t !\""},
      {"-a", "-a"},
      {"a-", "a-"},
      {R"(a\-c)", "a-c"},
      {R"(\\)", "\\"},
      {"\xC0-\xC2\xA8", "\xC0\xC1\xC2\xA8"},
      {"c-a", std::nullopt},
      {R"(\q)", std::nullopt},
      {R"(\x4)", std::nullopt},
      {"a\\", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    if (c.bytes) {
      EXPECT_EQ(ExpandAlphabet(c.written), *c.bytes);
    } else {
      EXPECT_THROW(ExpandAlphabet(c.written), Error);
    }
  }
}

TEST(StarterSource, AnEntryBecomesARecordWithZeroBytesAfterItsStrings) {
  const std::vector<TPreset> presets = ParseStarterPresets(
      "# comment\r\n\r\n[ Дата ]\r\n  min = 8\r\nalphabet = 0-9.\r\nregexp = \\d\\.\\d \r\n"
      "[Any]\nalphabet=a\nmin=5\nmax=100\n");
  ASSERT_EQ(presets.size(), 2u);
  TPreset expected{};
  SetShortString(expected.Name, "\xC4\xE0\xF2\xE0");
  SetShortString(expected.Alphabet, "0123456789.");
  SetShortString(expected.RegExp, "\\d\\.\\d");
  expected.MinLength = 8;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&presets[0]), sizeof(TPreset)),
            std::string(reinterpret_cast<const char*>(&expected), sizeof(TPreset)));
  EXPECT_EQ(presets[1].MinLength, 5);
  EXPECT_EQ(presets[1].MaxLength, 100);
  EXPECT_EQ(ShortString(presets[1].RegExp), "");
}

TEST(StarterSource, FaultsNameTheirLine) {
  const std::string kEntry = "[A]\nalphabet = a\nmin = 7\n";
  const struct {
    std::string source;
    int line;
    const char* message;  // a part of the message
  } cases[] = {
      {"# nothing\n", 0, "no preset"},
      {"alphabet = a\n", 1, "before the first [name]"},
      {"[]\nalphabet = a\nmin = 7\n", 1, "no name"},
      {"[A]\nmin = 7\n", 1, "no alphabet"},
      {"[A]\nalphabet = a\n", 1, "no min"},
      {"[A]\ncolour = red\n", 2, "unknown field"},
      {"[A]\nalphabet = 中\nmin = 7\n", 2, "no Windows-1251 form"},
      {"[A]\nalphabet = z-a\nmin = 7\n", 2, "range"},
      {"[A]\nalphabet = \\x00-\\xFF\nmin = 7\n", 2, "more than 255"},
      {"[A]\nalphabet = a\nalphabet = b\nmin = 7\n", 3, "twice"},
      {"[A]\nalphabet = a\nmin = seven\n", 3, "takes a number"},
      {"[A]\nalphabet = a\nmin = 4\n", 3, "between 5 and 255"},
      {kEntry + "max = 6\n", 4, "between min and 100"},
      {kEntry + "regexp = a(b\n", 4, "Unmatched ()"},
      {kEntry + "regexp = " + std::string(256, 'r') + "\n", 4, "longer than 255"},
      {kEntry + kEntry, 4, "a second preset named \"A\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    try {
      ParseStarterPresets(c.source);
      ADD_FAILURE() << "accepted";
    } catch (const StarterSourceError& e) {
      EXPECT_EQ(e.line(), c.line) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace veskor
