// Escaping of what the runner prints: control bytes, C1 controls and broken UTF-8 made visible.
#include "cli/terminal_text.h"

#include <gtest/gtest.h>

namespace veskor {
namespace {

TEST(TerminalText, ControlBytesAndBrokenUtf8AreShownAsEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain/path.bin", "plain/path.bin"},
      {"a\tb\\c", "a\tb\\c"},  // tab and backslash stay: messages are the window's text
      {"in\rput\n.bin", "in\\rput\\n.bin"},
      {"\x1b[2J\x7f", "\\x1B[2J\\x7F"},
      {"\xD0\xB4\xD0\xB0\xD0\xBC\xD0\xBF.bin", "\xD0\xB4\xD0\xB0\xD0\xBC\xD0\xBF.bin"},  // Cyrillic
      {"\xC2\x9B"
       "31m",
       "\\xC2\\x9B31m"},  // U+009B, the one-character escape sequence
      {"\xC2\xA0|\xE2\x82\xAC|\xF0\x9F\x98\x80", "\xC2\xA0|\xE2\x82\xAC|\xF0\x9F\x98\x80"},
      {"\xFF\xC0\x80\xE2\x82", "\\xFF\\xC0\\x80\\xE2\\x82"},  // not UTF-8, overlong, cut short
      {std::string("a\0b", 3), "a\\x00b"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(EscapeForTerminal(text), shown) << text;
  EXPECT_EQ(MessageAbout("dir/in\nbin_NONE.log", "I/O error 21"),
            "dir/in\\nbin_NONE.log: I/O error 21");
  EXPECT_EQ(MessageAbout("", "'zz' is not a valid integer value"),
            "'zz' is not a valid integer value");
}

}  // namespace
}  // namespace veskor
