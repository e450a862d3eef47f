// The program files as start-up reads and shut-down writes them: the first start, a session's
// round trip, failed loads kept, every save attempted, the user's folder as a fallback.
#include "engine/program_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "presets/preset.h"
#include "settings/settings_file.h"
#include "text/cp1251.h"
#include "text/error.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

class ProgramFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (fs::temp_directory_path() / ("veskor_program_" + std::to_string(::getpid()))).string() +
           "/";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
  }

  std::string dir_;
  PresetList presets_;
  TaskTable table_;
};

TEST_F(ProgramFilesTest, FirstStartAndImmediateClose) {
  ProgramFiles files(dir_);
  EXPECT_EQ(files.dir(), dir_);
  files.LoadPresets(presets_);
  files.LoadTable(table_, presets_);
  EXPECT_EQ(presets_.Count(), 0);
  ASSERT_EQ(table_.RowCount(), 4);
  EXPECT_FALSE(table_.Checked(2));
  EXPECT_EQ(table_.SelectedRow(), 0);
  EXPECT_EQ(files.LoadFormat(), "%3d | %*d | %s");
  EXPECT_TRUE(files.SaveAll(files.LoadFormat(), table_, presets_).empty());
  EXPECT_EQ(Read("grid.cfg").size(), 188u);
  EXPECT_TRUE(fs::exists(dir_ + "presets.dat"));
  EXPECT_EQ(Read("presets.dat"), "");
  EXPECT_EQ(Read("config.ini"), "[Config]\r\nFormatStr=%3d | %*d | %s\r\n");
}

TEST_F(ProgramFilesTest, ASessionComesBackAsItWasWithoutRunResults) {
  {
    ProgramFiles files(dir_);
    presets_.AddPreset();
    table_.AddDefaultTasks("Noname");
    table_.SetText(NxKeyColumn, 1, u"$41");
    table_.SetWholeNumber(NxImageColumn, 0, 1);  // a run's result, to be reset
    table_.SetText(NxResultColumn, 0, u"12");
    EXPECT_TRUE(files.SaveAll("%s", table_, presets_).empty());
    EXPECT_EQ(presets_.Count(), 0);  // cleared at shut-down
  }
  ProgramFiles files(dir_);
  PresetList presets;
  TaskTable table;
  files.LoadPresets(presets);
  files.LoadTable(table, presets);
  ASSERT_EQ(presets.Count(), 1);
  EXPECT_EQ(ShortString(presets.At(0).Name), "Noname");
  ASSERT_EQ(table.RowCount(), 4);
  EXPECT_EQ(table.Text(NxKeyColumn, 1), u"$41");
  EXPECT_EQ(table.Text(NxPresetColumn, 0), u"Noname");
  EXPECT_EQ(table.WholeNumber(NxImageColumn, 0), -1);
  EXPECT_EQ(table.Text(NxResultColumn, 0), u"0");
  EXPECT_EQ(files.LoadFormat(), "%s");
}

TEST_F(ProgramFilesTest, ATwoByteTableFileGivesAnEmptyTable) {
  Write("grid.cfg", "\xFF\xFE");
  ProgramFiles files(dir_);
  files.LoadTable(table_, presets_);
  EXPECT_EQ(table_.RowCount(), 0);
}

TEST_F(ProgramFilesTest, FilesThatFailedToLoadAreNotOverwritten) {
  const std::string broken_table = "True,-1,XOR8,,,0,0,-1,ninth\r\n";
  Write("grid.cfg", broken_table);
  Write("presets.dat", std::string(770, 'p'));
  const int holder = ::open((dir_ + "presets.dat").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // another instance holds the presets
  ProgramFiles files(dir_);
  EXPECT_THROW(files.LoadPresets(presets_), Error);
  ::close(holder);
  EXPECT_THROW(files.LoadTable(table_, presets_), Error);
  EXPECT_TRUE(files.presets_failed());
  EXPECT_TRUE(files.table_failed());
  presets_.AddPreset();
  EXPECT_TRUE(files.SaveAll("%d", table_, presets_).empty());
  EXPECT_EQ(Read("grid.cfg"), broken_table);
  EXPECT_EQ(Read("presets.dat"), std::string(770, 'p'));
  EXPECT_EQ(Read("config.ini"), "[Config]\r\nFormatStr=%d\r\n");  // the format is still saved
}

TEST_F(ProgramFilesTest, EverySaveIsAttemptedAndEachFailureNamed) {
  fs::create_directory(dir_ + "config.ini");  // cannot be written, even by root
  fs::create_directory(dir_ + "presets.dat");
  ProgramFiles files(dir_);
  table_.AddDefaultTasks("");
  const std::vector<std::string> failures = files.SaveAll("%s", table_, presets_);
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0], "Unable to write to " + dir_ + "config.ini");
  EXPECT_NE(failures[1].find("presets.dat"), std::string::npos);
  EXPECT_EQ(Read("grid.cfg").size(), 188u);  // the table is saved all the same
}

TEST_F(ProgramFilesTest, AFolderThatCannotBeWrittenSendsTheFilesToTheUsersConfigFolder) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string previous = saved ? saved : "";
  ::setenv("XDG_CONFIG_HOME", (dir_ + "config").c_str(), 1);
  ProgramFiles installed("/nonexistent/veskor/bin/");
  EXPECT_EQ(installed.dir(), dir_ + "config/veskor/");
  EXPECT_TRUE(fs::is_directory(dir_ + "config/veskor"));
  ProgramFiles runner("/nonexistent/veskor/bin/", /*read_only=*/true);
  EXPECT_EQ(runner.dir(), "/nonexistent/veskor/bin/");
  ProgramFiles beside(dir_);
  EXPECT_EQ(beside.dir(), dir_);
  if (saved) {
    ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace
}  // namespace veskor
