// Windows-1251 conversions and case mapping.
#include "text/cp1251.h"

#include <gtest/gtest.h>

namespace veskor {
namespace {

TEST(Cp1251, EveryByteSurvivesRoundTripsThroughUtf16AndUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf16ToCp1251(Cp1251ToUtf16(all)), all);
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
  EXPECT_EQ(Utf16ToUtf8(Cp1251ToUtf16(all)), Cp1251ToUtf8(all));
}

TEST(Cp1251, KnownCharacters) {
  struct Case {
    uint8_t byte;
    char16_t unit;
  } cases[] = {{'A', u'A'},  {0xC0, u'А'},   {0xFF, u'я'},   {0xA8, u'Ё'},
               {0xB8, u'ё'}, {0x88, 0x20AC}, {0xB9, 0x2116}, {0x98, 0x0098}};
  for (const auto& c : cases) {
    EXPECT_EQ(Cp1251ToChar16(c.byte), c.unit) << int(c.byte);
    EXPECT_EQ(Utf16ToCp1251(std::u16string(1, c.unit)), std::string(1, char(c.byte)));
  }
}

TEST(Cp1251, CharactersWithoutAnEightBitFormBecomeQuestionMarks) {
  EXPECT_EQ(Utf16ToCp1251(u"a\u4e2db"), "a?b");
  EXPECT_EQ(Utf16ToCp1251(u"\U0001F600"), "?");              // a surrogate pair is one character
  EXPECT_EQ(Utf16ToCp1251(std::u16string(1, 0xD800)), "?");  // a lone surrogate
  EXPECT_EQ(Utf8ToCp1251("x\xE4\xB8\xADy"), "x?y");
  EXPECT_EQ(Utf8ToCp1251("\xFF\xC0\x80"), "???");  // invalid and overlong sequences
  EXPECT_EQ(Utf8ToCp1251("\xD0\x9F\xD1\x80\xD0\xB8"), "\xCF\xF0\xE8");  // "При"
}

TEST(Cp1251, CaseMappingCoversLatinAndCyrillicLetters) {
  struct Case {
    uint8_t lower, upper;
  } pairs[] = {{'a', 'A'},   {'z', 'Z'},   {0xE0, 0xC0}, {0xFF, 0xDF}, {0xB8, 0xA8}, {0x90, 0x80},
               {0x83, 0x81}, {0x9F, 0x8F}, {0xB4, 0xA5}, {0xB3, 0xB2}, {0xA2, 0xA1}};
  for (const auto& p : pairs) {
    EXPECT_EQ(ToUpper1251(p.lower), p.upper) << int(p.lower);
    EXPECT_EQ(ToLower1251(p.upper), p.lower) << int(p.upper);
    EXPECT_EQ(OtherCase1251(p.lower), p.upper);
    EXPECT_EQ(OtherCase1251(p.upper), p.lower);
  }
  for (uint8_t b : {uint8_t('1'), uint8_t('_'), uint8_t(0xB5), uint8_t(0xB9), uint8_t(0x00)}) {
    EXPECT_EQ(OtherCase1251(b), b) << int(b);
  }
}

}  // namespace
}  // namespace veskor
