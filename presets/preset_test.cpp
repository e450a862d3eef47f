// The preset record's layout, string fields, defaults and editor conversions.
#include "presets/preset.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace veskor {
namespace {

TEST(Preset, FieldsLieAtTheirFileOffsets) {
  EXPECT_EQ(offsetof(TPreset, Name), 0u);
  EXPECT_EQ(offsetof(TPreset, Alphabet), 256u);
  EXPECT_EQ(offsetof(TPreset, RegExp), 512u);
  EXPECT_EQ(offsetof(TPreset, MinLength), 768u);
  EXPECT_EQ(offsetof(TPreset, MaxLength), 769u);
}

TEST(Preset, NewPresetIsTheDefaultsOverZeroBytes) {
  uint8_t expected[770] = {};
  expected[0] = 6;
  std::memcpy(expected + 1, "Noname", 6);
  expected[256] = 10;
  std::memcpy(expected + 257, "1234567890", 10);
  expected[768] = 7;
  const TPreset preset = NewPreset();
  EXPECT_EQ(std::memcmp(&preset, expected, sizeof expected), 0);
  EXPECT_EQ(ShortString(preset.Name), "Noname");
  EXPECT_EQ(ShortString(preset.Alphabet), "1234567890");
  EXPECT_EQ(ShortString(preset.RegExp), "");
}

TEST(Preset, ShortStringReadsOnlyTheLengthBytes) {
  uint8_t a[256], b[256];
  std::memset(a, 'x', sizeof a);
  std::memset(b, 'y', sizeof b);
  a[0] = b[0] = 0;
  EXPECT_EQ(ShortString(a), ShortString(b));
  std::memcpy(a + 1, "abc", 3);
  std::memcpy(b + 1, "abc", 3);
  a[0] = b[0] = 3;
  EXPECT_EQ(ShortString(a), "abc");
  EXPECT_EQ(ShortString(b), "abc");
  a[0] = 255;  // every length byte is valid
  EXPECT_EQ(ShortString(a).size(), 255u);
  EXPECT_EQ(ShortString(a).substr(0, 4), "abcx");
}

TEST(Preset, SetShortStringWritesOnlyLengthAndCharacters) {
  uint8_t field[256];
  std::memset(field, 0xEE, sizeof field);
  SetShortString(field, "abcdef");
  SetShortString(field, "XY");
  EXPECT_EQ(ShortString(field), "XY");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(field + 3), 4), "cdef");
  EXPECT_EQ(field[7], 0xEE);
}

TEST(Preset, SetShortStringCutsTo255Bytes) {
  struct Case {
    size_t given, stored;
  } cases[] = {{0, 0}, {1, 1}, {254, 254}, {255, 255}, {256, 255}, {300, 255}};
  for (const auto& c : cases) {
    uint8_t field[256] = {};
    std::string text(c.given, 'a');
    if (!text.empty()) text.back() = 'z';
    SetShortString(field, text);
    EXPECT_EQ(ShortString(field), text.substr(0, c.stored)) << c.given;
  }
}

TEST(Preset, NameFromEditor) {
  struct Case {
    std::u16string typed;
    std::string stored;
  } cases[] = {
      {u"", ""},
      {u"Digits", "Digits"},
      {u"Цифры", "\xD6\xE8\xF4\xF0\xFB"},
      {u"a\u4e2db", "a?b"},
      {std::u16string(300, u'n'), std::string(255, 'n')},
      {std::u16string(300, u'я'), std::string(255, '\xFF')},
      {std::u16string(255, u'a') + u"\u4e2d", std::string(255, 'a')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PresetNameFromEditor(c.typed), c.stored) << c.stored;
  }
}

TEST(Preset, NameToEditorConvertsTheNameBytes) {
  TPreset preset = NewPreset();
  SetShortString(preset.Name, "\xC0\xE1 1");
  EXPECT_EQ(PresetNameToEditor(preset), u"Аб 1");
  SetShortString(preset.Name, "");
  EXPECT_EQ(PresetNameToEditor(preset), u"");
}

}  // namespace
}  // namespace veskor
