// The preset list: adding, deleting, clearing, the name lookups and the change notice.
#include "presets/preset_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace veskor {
namespace {

TPreset Named(std::string_view name, uint8_t min_length = 7) {
  TPreset preset = NewPreset();
  SetShortString(preset.Name, name);
  preset.MinLength = min_length;
  return preset;
}

bool SameBytes(const TPreset& a, const TPreset& b) {
  return std::memcmp(&a, &b, sizeof(TPreset)) == 0;
}

class PresetListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_.SetChangeHandler([this] {
      ++notices_;
      count_seen_ = list_.Count();
    });
  }
  PresetList list_;
  int notices_ = 0;
  int count_seen_ = -1;
};

TEST_F(PresetListTest, EmptyListHasNoFirstName) {
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(list_.PresetName(0), "");
}

TEST_F(PresetListTest, AddPresetAppendsTheDefaultsUnannounced) {
  list_.Append(Named("first"));
  list_.AddPreset();
  ASSERT_EQ(list_.Count(), 2);
  EXPECT_TRUE(SameBytes(list_.At(1), NewPreset()));
  EXPECT_EQ(list_.PresetName(0), "first");
  EXPECT_EQ(list_.PresetName(1), "Noname");
  EXPECT_EQ(notices_, 0);
}

TEST_F(PresetListTest, DeletePresetMovesLaterOnesUpUnannounced) {
  for (auto name : {"a", "b", "c"}) list_.Append(Named(name));
  list_.DeletePreset(1);
  ASSERT_EQ(list_.Count(), 2);
  EXPECT_EQ(list_.PresetName(0), "a");
  EXPECT_EQ(list_.PresetName(1), "c");
  list_.DeletePreset(1);
  list_.DeletePreset(0);
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(notices_, 0);
}

TEST_F(PresetListTest, BadIndexesAreRefused) {
  list_.Append(Named("a"));
  EXPECT_THROW(list_.DeletePreset(1), std::out_of_range);
  EXPECT_THROW(list_.DeletePreset(-1), std::out_of_range);
  EXPECT_THROW(list_.At(1), std::out_of_range);
  EXPECT_THROW(list_.Replace(-1, Named("x")), std::out_of_range);
  EXPECT_THROW(list_.PresetName(1), std::out_of_range);
  EXPECT_EQ(list_.Count(), 1);
}

TEST_F(PresetListTest, ClearPresetsAnnouncesOnlyWhenSomethingWasCleared) {
  list_.ClearPresets();
  EXPECT_EQ(notices_, 0);
  list_.AddPreset();
  list_.AddPreset();
  list_.ClearPresets();
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(notices_, 1);
  EXPECT_EQ(count_seen_, 0);  // the handler sees the emptied list
  list_.ClearPresets();
  EXPECT_EQ(notices_, 1);
}

TEST(PresetList, NoticeWithoutHandlerDoesNothing) {
  PresetList list;
  list.AddPreset();
  list.AnnounceChange();
  list.ClearPresets();
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(PresetListTest, RecordsAreKeptByteForByte) {
  TPreset odd = Named("odd", 2);
  odd.MaxLength = 200;
  std::memset(odd.Alphabet + 11, 0x5A, 245);  // bytes after the alphabet's characters
  list_.Append(odd);
  EXPECT_TRUE(SameBytes(list_.At(0), odd));
  TPreset other = Named("other");
  list_.Replace(0, other);
  EXPECT_TRUE(SameBytes(list_.At(0), other));
}

TEST_F(PresetListTest, FindPresetComparesNamesByteForByte) {
  TPreset tail_bytes = Named("Digits", 1);
  std::memset(tail_bytes.Name + 7, 'Q', 249);  // stale bytes after the name do not count
  list_.Append(Named("Noname", 3));
  list_.Append(tail_bytes);
  list_.Append(Named("Noname", 5));
  list_.Append(Named("", 9));
  list_.Append(Named("\xC8\xEC\xFF", 11));
  struct Case {
    std::string_view name;
    int found_min_length;  // -1: nothing found
  } cases[] = {
      {"Noname", 3},  // the lower index of two equal names
      {"Digits", 1},   {"", 9},         {"\xC8\xEC\xFF", 11}, {"noname", -1},  {"NONAME", -1},
      {"Noname ", -1}, {" Noname", -1}, {"Nonam", -1},        {"DigitsQ", -1}, {"\xE8\xEC\xFF", -1},
      {"Absent", -1},
  };
  for (const auto& c : cases) {
    TPreset destination;
    std::memset(&destination, 0xA5, sizeof destination);
    TPreset before = destination;
    const bool found = list_.FindPreset(c.name, destination);
    EXPECT_EQ(found, c.found_min_length >= 0) << c.name;
    if (found) {
      EXPECT_EQ(destination.MinLength, c.found_min_length) << c.name;
    } else {
      EXPECT_TRUE(SameBytes(destination, before)) << c.name;
    }
  }
}

TEST_F(PresetListTest, FindPresetCopiesTheWholeRecord) {
  TPreset stored = Named("Digits", 2);
  stored.MaxLength = 200;
  std::memset(stored.RegExp + 1, 0x77, 255);  // bytes past the empty expression survive the copy
  list_.Append(stored);
  TPreset destination{};
  ASSERT_TRUE(list_.FindPreset("Digits", destination));
  EXPECT_TRUE(SameBytes(destination, stored));
}

TEST(PresetList, FindPresetOnAnEmptyListFindsNothingNotEvenTheEmptyName) {
  PresetList list;
  TPreset destination = NewPreset();
  EXPECT_FALSE(list.FindPreset("", destination));
  EXPECT_TRUE(SameBytes(destination, NewPreset()));
}

}  // namespace
}  // namespace veskor
