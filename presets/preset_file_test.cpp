// presets.dat byte for byte: sizes, round trips, the bytes after a string's length, failures.
#include "presets/preset_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/ordinary_user.h"
#include "files/write_fully.h"
#include "text/error.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

class PresetFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veskor_presets_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / kPresetFileName).string();
    list_.SetChangeHandler([this] { ++notices_; });
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::string Record(const TPreset& p) {
    return std::string(reinterpret_cast<const char*>(&p), sizeof p);
  }

  fs::path dir_;
  std::string path_;
  PresetList list_;
  int notices_ = 0;
};

TEST_F(PresetFileTest, SizesGiveWholeRecordsOnly) {
  TPreset digits = NewPreset();
  SetShortString(digits.Name, "Digits");
  struct Case {
    std::string bytes;
    int count;
  } cases[] = {{"", 0},
               {std::string(769, 'x'), 0},
               {Record(digits), 1},
               {Record(digits) + std::string(769, 'y'), 1},
               {Record(digits) + Record(NewPreset()), 2}};
  for (const Case& c : cases) {
    Write(c.bytes);
    notices_ = 0;
    // The clear of a list that held presets announces too; then the load, as the file exists.
    const int expected = (list_.Count() > 0 ? 1 : 0) + 1;
    LoadPresets(list_, path_);
    EXPECT_EQ(list_.Count(), c.count) << c.bytes.size();
    EXPECT_EQ(notices_, expected) << c.bytes.size();
  }
  // The torn last record of a 1539-byte file is dropped at the next save.
  Write(Record(digits) + std::string(769, 'y'));
  LoadPresets(list_, path_);
  SavePresets(list_, path_);
  EXPECT_EQ(Read(), Record(digits));
}

TEST_F(PresetFileTest, NoFileMeansNoPresetsAndNoNotice) {
  list_.AddPreset();
  LoadPresets(list_, path_);
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(notices_, 1);       // only the clear of the earlier preset
  fs::create_directory(path_);  // a directory of that name is no file
  LoadPresets(list_, path_);
  EXPECT_EQ(notices_, 1);
}

TEST_F(PresetFileTest, RecordsSurviveByteForByteIncludingBytesAfterTheStrings) {
  TPreset odd{};
  std::memset(&odd, 0xA5, sizeof odd);  // bytes after each length carry no meaning but stay
  SetShortString(odd.Name, "Old");
  odd.MinLength = 2;
  odd.MaxLength = 200;
  Write(Record(odd));
  LoadPresets(list_, path_);
  ASSERT_EQ(list_.Count(), 1);
  EXPECT_EQ(Record(list_.At(0)), Record(odd));
  SavePresets(list_, path_);
  EXPECT_EQ(Read(), Record(odd));
}

TEST_F(PresetFileTest, SavedListsAndTheNewPresetRecord) {
  SavePresets(list_, path_);
  EXPECT_TRUE(fs::exists(path_));
  EXPECT_EQ(fs::file_size(path_), 0u);  // an empty list gives an empty file, not none
  list_.AddPreset();
  SavePresets(list_, path_);
  ASSERT_EQ(fs::file_size(path_), 770u);
  PresetList back;
  LoadPresets(back, path_);
  ASSERT_EQ(back.Count(), 1);
  EXPECT_EQ(ShortString(back.At(0).Name), "Noname");
  EXPECT_EQ(ShortString(back.At(0).Alphabet), "1234567890");
  EXPECT_EQ(ShortString(back.At(0).RegExp), "");
  EXPECT_EQ(back.At(0).MinLength, 7);
  EXPECT_EQ(back.At(0).MaxLength, 0);
}

TEST_F(PresetFileTest, FailedSavesLeaveTheEarlierFile) {
  list_.AddPreset();
  SavePresets(list_, path_);
  const std::string before = Read();
  list_.AddPreset();
  test::FailNextWrite(ENOSPC, 100);
  try {
    SavePresets(list_, path_);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
  EXPECT_EQ(Read(), before);
  const std::string missing_folder = (dir_ / "no" / kPresetFileName).string();
  try {
    SavePresets(list_, missing_folder);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.what(), "Cannot create file \"" + missing_folder + "\". No such file or directory");
  }
}

TEST_F(PresetFileTest, AFileThatCannotBeOpenedFailsWithItsPathAndReason) {
  Write(Record(NewPreset()));
  fs::permissions(path_, fs::perms::none);
  test::AsOrdinaryUser([&] {
    try {
      LoadPresets(list_, path_);
      FAIL() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), "Cannot open file \"" + path_ + "\". Permission denied");
    }
    EXPECT_EQ(list_.Count(), 0);
  });
}

TEST_F(PresetFileTest, AFileLockedByAnotherInstanceCannotBeOpened) {
  Write(Record(NewPreset()));
  const int holder = ::open(path_.c_str(), O_RDONLY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  try {
    LoadPresets(list_, path_);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.what(), "Cannot open file \"" + path_ + "\". Resource temporarily unavailable");
  }
  ::close(holder);
  EXPECT_EQ(list_.Count(), 0);
  LoadPresets(list_, path_);
  EXPECT_EQ(list_.Count(), 1);
}

}  // namespace
}  // namespace veskor
