// Saving by atomic replacement: the new bytes, or the old file untouched.
#include "files/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace veskor {
namespace {

namespace fs = std::filesystem;

class ReplaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veskor_files_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "presets.dat").string();
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t Entries() { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

  fs::path dir_;
  std::string path_;
};

TEST_F(ReplaceFileTest, WritesNewAndReplacesOldFilesKeepingPermissions) {
  ReplaceFile(path_, std::string("a\0b", 3));
  EXPECT_EQ(Read(), std::string("a\0b", 3));
  ::chmod(path_.c_str(), 0640);
  ReplaceFile(path_, "");
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Entries(), 1u);  // no temporary file left behind
}

TEST_F(ReplaceFileTest, FailedWritesLeaveTheOldFileWhole) {
  ReplaceFile(path_, "old contents");
  for (size_t before : {size_t{0}, size_t{3}}) {
    testing::FailNextWrite(ENOSPC, before);
    try {
      ReplaceFile(path_, "new contents that do not fit");
      FAIL() << "no error";
    } catch (const FileOperationError& e) {
      EXPECT_EQ(e.stage(), FileOperationError::Stage::kWrite);
      EXPECT_EQ(e.error_number(), ENOSPC);
      EXPECT_STREQ(e.what(), "No space left on device");
    }
    EXPECT_EQ(Read(), "old contents");
    EXPECT_EQ(Entries(), 1u);
  }
}

TEST_F(ReplaceFileTest, ReadOnlyFolderOrFileRefusesTheSave) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
  ReplaceFile(path_, "old");
  ::chmod(path_.c_str(), 0444);
  EXPECT_THROW(ReplaceFile(path_, "new"), FileOperationError);
  EXPECT_EQ(Read(), "old");
  ::chmod(path_.c_str(), 0644);
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  try {
    ReplaceFile(path_, "new");
    FAIL() << "no error";
  } catch (const FileOperationError& e) {
    EXPECT_EQ(e.stage(), FileOperationError::Stage::kCreate);
  }
  EXPECT_EQ(Read(), "old");
}

TEST_F(ReplaceFileTest, ReadingAndTheExistenceTest) {
  EXPECT_FALSE(FileExists(path_));
  EXPECT_FALSE(FileExists(dir_.string()));  // a directory is no file
  ReplaceFile(path_, "bytes");
  EXPECT_TRUE(FileExists(path_));
  EXPECT_EQ(ReadWholeFile(path_, true), "bytes");
  try {
    ReadWholeFile((dir_ / "missing").string(), false);
    FAIL() << "no error";
  } catch (const FileOperationError& e) {
    EXPECT_EQ(e.stage(), FileOperationError::Stage::kOpen);
    EXPECT_STREQ(e.what(), "No such file or directory");
  }
}

TEST(SystemErrorText, DropsTrailingBlanksAndPeriods) {
  EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(SystemErrorText(EACCES), "Permission denied");
}

}  // namespace
}  // namespace veskor
