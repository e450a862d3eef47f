// The whole-number syntax of keys and number cells.
#include "text/integer_syntax.h"

#include <gtest/gtest.h>

#include "text/error.h"

namespace veskor {
namespace {

TEST(IntegerSyntax, AcceptedTexts) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"65", 65},
      {"+65", 65},
      {"$41", 65},
      {"x41", 65},
      {"X41", 65},
      {"0x41", 65},
      {"0X41", 65},
      {"   65", 65},
      {"-1", -1},
      {"$FF", 255},
      {"$ff", 255},
      {"010", 10},
      {"0", 0},
      {"-0", 0},
      {"$FFFFFFFF", -1},
      {"-$FFFFFFFF", 1},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"$80000000", INT32_MIN},
      {"$000000041", 65},
      {"-x10", -16},
  };
  for (const auto& c : cases) {
    auto v = ParseInteger(c.text);
    ASSERT_TRUE(v.has_value()) << c.text;
    EXPECT_EQ(*v, c.value) << c.text;
  }
}

TEST(IntegerSyntax, RefusedTexts) {
  for (const char* text :
       {"",    " ",    "   ",  "65 ",   "6 5", "abc",        "+",           "-",
        "$",   "0x",   "x",    "--1",   "+-1", "2147483648", "-2147483649", "$100000000",
        "1.5", "0x1g", "\t65", "00x41", "1e3", "$-1"}) {
    EXPECT_FALSE(ParseInteger(text).has_value()) << '"' << text << '"';
  }
}

TEST(IntegerSyntax, StrToIntQuotesTheTextAsTyped) {
  EXPECT_EQ(StrToInt("$41", "$41"), 65);
  try {
    StrToInt("65 ", "65 ");
    FAIL() << "no error";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'65 ' is not a valid integer value");
  }
}

}  // namespace
}  // namespace veskor
