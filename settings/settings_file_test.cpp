// config.ini as the program meets it: the default, the format's round trip with what a read
// strips, the rest of the file kept, and the failure message of a save.
#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/ordinary_user.h"
#include "files/write_fully.h"
#include "report/report_format.h"
#include "text/error.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veskor_settings_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / kSettingsFileName).string();
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void ExpectSaveFails(const std::string& path) {
    try {
      SaveSettings(path, "%d");
      ADD_FAILURE() << "no error for " << path;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(SettingsFileTest, NoFileGivesTheDefaultAndTheSaveCreatesIt) {
  EXPECT_EQ(LoadSettings(path_), "%3d | %*d | %s");
  SaveSettings(path_, LoadSettings(path_));
  EXPECT_EQ(Read(), "[Config]\r\nFormatStr=%3d | %*d | %s\r\n");
  EXPECT_EQ(LoadSettings(path_), kDefaultReportFormat);
}

TEST_F(SettingsFileTest, FormatsAreSavedAsTypedAndReadBackByTheReadRules) {
  const std::string long_format = "%s" + std::string(2100, '-');
  struct Case {
    std::string format;
    std::string loaded;
  } cases[] = {
      {"", ""},  // an empty entry is the empty format, not the default
      {"%", "%"},
      {"%z invalid", "%z invalid"},
      {"  %d | %s \t", "%d | %s"},
      {"\"%d | %s\"", "%d | %s"},
      {"'%s'", "%s"},
      {"key=%d pos=%d", "key=%d pos=%d"},
      {"\xCA\xEB\xFE\xF7 %3d", "\xCA\xEB\xFE\xF7 %3d"},
      {long_format, long_format.substr(0, 2047)},
  };
  for (const Case& c : cases) {
    fs::remove(path_);
    SaveSettings(path_, c.format);
    EXPECT_EQ(Read(), "[Config]\r\nFormatStr=" + c.format + "\r\n") << c.format.size();
    EXPECT_EQ(LoadSettings(path_), c.loaded) << c.format.size();
  }
  // Saving the empty format again keeps it empty; only a missing entry brings the default.
  SaveSettings(path_, "");
  SaveSettings(path_, "");
  EXPECT_EQ(Read(), "[Config]\r\nFormatStr=\r\n");
  Write("[Config]\r\n");
  EXPECT_EQ(LoadSettings(path_), kDefaultReportFormat);
}

TEST_F(SettingsFileTest, OtherContentSurvivesASave) {
  const std::string head =
      "; settings\r\n\r\n[Window]\r\nLeft=10\r\n  Caption = \xD2\xE5\xF1\xF2 \r\n\r\n"
      "[CONFIG]\r\n; the log line\r\n";
  const std::string tail = "\r\nFormatStrX=keep\r\n\r\n[Other]\r\nFormatStr=not this\r\n";
  Write(head + "  formatstr = \"%s\" " + tail);
  EXPECT_EQ(LoadSettings(path_), "%s");
  SaveSettings(path_, "%3d %s");
  EXPECT_EQ(Read(), head + "formatstr=%3d %s" + tail);
  EXPECT_EQ(LoadSettings(path_), "%3d %s");
}

TEST_F(SettingsFileTest, LfOnlyFilesAreReadAndKeepTheirLines) {
  Write("[Other]\nA=1\n[Config]\nFormatStr=%d\n");
  EXPECT_EQ(LoadSettings(path_), "%d");
  SaveSettings(path_, "%s");
  EXPECT_EQ(Read(), "[Other]\nA=1\n[Config]\nFormatStr=%s\n");
}

TEST_F(SettingsFileTest, FailedSavesNameThePathAndKeepTheFile) {
  const std::string earlier = "[Config]\r\nFormatStr=%s\r\n[Other]\r\nA=1\r\n";
  Write(earlier);
  test::FailNextWrite(ENOSPC);
  ExpectSaveFails(path_);
  EXPECT_EQ(Read(), earlier);
  EXPECT_EQ(LoadSettings(path_), "%s");

  ExpectSaveFails((dir_ / "no folder" / "config.ini").string());
  fs::remove(path_);
  fs::create_directory(path_);  // a folder where the file should be
  EXPECT_EQ(LoadSettings(path_), kDefaultReportFormat);
  ExpectSaveFails(path_);
}

TEST_F(SettingsFileTest, ReadOnlyFilesAndFoldersFailTheSave) {
  const std::string earlier = "[Config]\r\nFormatStr=%s\r\n";
  const fs::perms read_only =
      fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
  Write(earlier);
  // A file that no one but root may write, in a folder that everyone may write.
  ::chmod(path_.c_str(), 0444);
  fs::permissions(dir_, fs::perms::all);
  test::AsOrdinaryUser([&] { ExpectSaveFails(path_); });
  EXPECT_EQ(Read(), earlier);
  // A file that everyone may write, in a folder that no one but root may write.
  ::chmod(path_.c_str(), 0666);
  fs::permissions(dir_, read_only);
  test::AsOrdinaryUser([&] { ExpectSaveFails(path_); });
  EXPECT_EQ(Read(), earlier);
  fs::permissions(dir_, fs::perms::owner_all);
  fs::remove(path_);
  fs::permissions(dir_, read_only);
  test::AsOrdinaryUser([&] { ExpectSaveFails(path_); });
  EXPECT_FALSE(fs::exists(path_));
}

}  // namespace
}  // namespace veskor
