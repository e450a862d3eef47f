// Saving by atomic replacement: the new bytes, or the old file untouched.
#include "files/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "files/ordinary_user.h"
#include "files/save_target.h"
#include "files/scratch_folder.h"
#include "files/temporary_files.h"
#include "files/write_fully.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

using ReplaceFileTest = test::ScratchFolder;

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
    test::FailNextWrite(ENOSPC, before);
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
  ReplaceFile(path_, "old");
  // A file that no one but root may write, in a folder that everyone may write.
  ::chmod(path_.c_str(), 0444);
  fs::permissions(dir_, fs::perms::all);
  test::AsOrdinaryUser([&] { EXPECT_THROW(ReplaceFile(path_, "new"), FileOperationError); });
  EXPECT_EQ(Read(), "old");
  // A file that everyone may write, in a folder that no one but root may write.
  ::chmod(path_.c_str(), 0666);
  fs::permissions(dir_, fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write |
                                           fs::perms::others_write));
  test::AsOrdinaryUser([&] {
    try {
      ReplaceFile(path_, "new");
      FAIL() << "no error";
    } catch (const FileOperationError& e) {
      EXPECT_EQ(e.stage(), FileOperationError::Stage::kCreate);
    }
  });
  EXPECT_EQ(Read(), "old");
}

TEST_F(ReplaceFileTest, ASaveThroughASymbolicLinkReplacesItsTargetAndKeepsTheLink) {
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directory(elsewhere);
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // link path, what it names
    std::string target;                                      // relative to dir_
    bool target_exists;
  };
  const Case cases[] = {
      {"relative, same folder", {{"presets.dat", "real.dat"}}, "real.dat", true},
      {"absolute, other folder",
       {{"presets.dat", (elsewhere / "presets.dat").string()}},
       "elsewhere/presets.dat",
       true},
      {"relative, other folder", {{"presets.dat", "elsewhere/p"}}, "elsewhere/p", true},
      {"a chain of two", {{"presets.dat", "hop"}, {"hop", "elsewhere/end"}}, "elsewhere/end", true},
      {"dangling", {{"presets.dat", "elsewhere/new.dat"}}, "elsewhere/new.dat", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [link, named] : c.links) fs::create_symlink(named, dir_ / link);
    const fs::path target = dir_ / c.target;
    if (c.target_exists) {
      std::ofstream(target) << "old";
      fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(SaveTarget(path_), target.string());
    ReplaceFile(path_, "new");
    EXPECT_EQ(Read(), "new");
    for (const auto& [link, named] : c.links) {
      ASSERT_TRUE(fs::is_symlink(dir_ / link));
      EXPECT_EQ(fs::read_symlink(dir_ / link).string(), named);
    }
    if (c.target_exists) {
      EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write);
    }
    // Nothing but the links, the targets and the other folder: no temporary file anywhere.
    EXPECT_EQ(Entries(), c.links.size() + 1 + (c.target.find('/') == std::string::npos));
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), {}),
              c.target.find('/') == std::string::npos ? 0 : 1);
    for (const auto& [link, named] : c.links) fs::remove(dir_ / link);
    fs::remove(target);
  }
}

TEST_F(ReplaceFileTest, ALoopOfLinksRefusesTheSave) {
  fs::create_symlink("other", path_);
  fs::create_symlink("presets.dat", dir_ / "other");
  try {
    ReplaceFile(path_, "new");
    FAIL() << "no error";
  } catch (const FileOperationError& e) {
    EXPECT_EQ(e.stage(), FileOperationError::Stage::kCreate);
    EXPECT_EQ(e.error_number(), ELOOP);
  }
  EXPECT_EQ(RemoveStaleTemporaries(path_), 0);
}

}  // namespace
}  // namespace veskor
