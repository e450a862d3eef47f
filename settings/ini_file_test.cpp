// The ini reader and writer: which line is an entry of which section, how a value is read, and
// what a write changes in a file (only the entry's line, or the added lines).
#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/file_operation_error.h"
#include "files/ordinary_user.h"
#include "files/write_fully.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veskor_ini_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "test.ini").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string ReadEntry() { return ReadIniEntry(path_, "Config", "FormatStr", "<fallback>"); }

  fs::path dir_;
  std::string path_;
};

TEST_F(IniFileTest, FindsTheEntryOfItsSection) {
  struct Case {
    const char* name;
    std::string file;
    std::string value;
  } cases[] = {
      {"crlf", "[Config]\r\nFormatStr=abc\r\n", "abc"},
      {"lf only", "[Config]\nFormatStr=abc\n", "abc"},
      {"no last line end", "[Config]\r\nFormatStr=abc", "abc"},
      {"lone cr at the end", "[Config]\r\nFormatStr=abc\r", "abc"},
      {"letter case", "[CONFIG]\r\nformatstr=x\r\n", "x"},
      {"blanks around key", "[Config]\r\n \tFormatStr \t= x\r\n", "x"},
      {"blanks in brackets", "  [ Config ] ; note\r\nFormatStr=x\r\n", "x"},
      {"sections around", "[A]\r\nFormatStr=a\r\n[Config]\r\nFormatStr=c\r\n[B]\r\nFormatStr=b",
       "c"},
      {"longer key first", "[Config]\r\nFormatStrX=no\r\nFormatStr=yes\r\n", "yes"},
      {"longer key only", "[Config]\r\nFormatStrX=no\r\n", "<fallback>"},
      {"shorter key only", "[Config]\r\nFormat=no\r\n", "<fallback>"},
      {"key in another section", "[Other]\r\nFormatStr=no\r\n[Config]\r\nA=1\r\n", "<fallback>"},
      {"key before any section", "FormatStr=no\r\n[Config]\r\n", "<fallback>"},
      {"longer section name", "[Config2]\r\nFormatStr=no\r\n", "<fallback>"},
      {"unclosed section", "[Config\r\nFormatStr=no\r\n", "<fallback>"},
      {"comment", "[Config]\r\n;FormatStr=no\r\n", "<fallback>"},
      {"commented section", ";[Config]\r\nFormatStr=no\r\n", "<fallback>"},
      {"no equals sign", "[Config]\r\nFormatStr\r\n", "<fallback>"},
      {"first key counts", "[Config]\r\nFormatStr=1\r\nFormatStr=2\r\n", "1"},
      {"first section counts", "[Config]\r\nA=1\r\n[Config]\r\nFormatStr=2\r\n", "<fallback>"},
      {"empty file", "", "<fallback>"},
  };
  for (const Case& c : cases) {
    Write(c.file);
    EXPECT_EQ(ReadEntry(), c.value) << c.name;
  }
}

TEST_F(IniFileTest, ValuesAreTrimmedUnquotedAndCut) {
  const std::string long_value(3000, 'v');
  struct Case {
    std::string raw;  // after "FormatStr="
    std::string value;
  } cases[] = {
      {"a=b=c", "a=b=c"},
      {" \t a b \t ", "a b"},
      {"", ""},
      {" \t ", ""},
      {"\"abc\"", "abc"},
      {"'abc'", "abc"},
      {"  \" a \"  ", " a "},
      {"\"\"", ""},
      {"''x''", "'x'"},
      {"\"abc'", "\"abc'"},
      {"\"", "\""},
      {"x\"", "x\""},
      {"\xCF\xF0\xE8\xE2\xE5\xF2 %s", "\xCF\xF0\xE8\xE2\xE5\xF2 %s"},  // bytes kept as they are
      {long_value, long_value.substr(0, kIniValueLimit)},
      {"\"" + long_value + "\"", long_value.substr(0, kIniValueLimit)},
      {std::string(2047, 'w') + "  ", std::string(2047, 'w')},
  };
  for (const Case& c : cases) {
    Write("[Config]\r\nFormatStr=" + c.raw + "\r\n");
    EXPECT_EQ(ReadEntry(), c.value) << c.raw.substr(0, 40);
  }
}

TEST_F(IniFileTest, UnreadableFilesGiveTheFallback) {
  EXPECT_EQ(ReadEntry(), "<fallback>");  // no file
  fs::create_directory(path_);
  EXPECT_EQ(ReadEntry(), "<fallback>");
}

TEST_F(IniFileTest, FileWithoutReadPermissionGivesTheFallback) {
  Write("[Config]\r\nFormatStr=x\r\n");
  ::chmod(path_.c_str(), 0200);
  test::AsOrdinaryUser([&] { EXPECT_EQ(ReadEntry(), "<fallback>"); });
}

TEST_F(IniFileTest, WriteChangesOnlyTheEntryOrAddsIt) {
  struct Case {
    const char* name;
    std::string before;
    std::string after;  // with the value "v"
  } cases[] = {
      {"empty file", "", "[Config]\r\nFormatStr=v\r\n"},
      {"section added", "[Other]\r\nA=1\r\n", "[Other]\r\nA=1\r\n[Config]\r\nFormatStr=v\r\n"},
      {"section added after a cut line", "[Other]\r\nA=1",
       "[Other]\r\nA=1\r\n[Config]\r\nFormatStr=v\r\n"},
      {"section added after a lone cr", "A=1\r", "A=1\r\n[Config]\r\nFormatStr=v\r\n"},
      {"section added to lf file", "[Other]\nA=1\n", "[Other]\nA=1\n[Config]\r\nFormatStr=v\r\n"},
      {"key added before blank lines", "[Config]\r\nA=1\r\n\r\n \t\r\n[Other]\r\nB=2\r\n",
       "[Config]\r\nA=1\r\nFormatStr=v\r\n\r\n \t\r\n[Other]\r\nB=2\r\n"},
      {"key added after a comment", "[Config]\r\n; note\r\nA=1\r\n; last\r\n\r\n",
       "[Config]\r\n; note\r\nA=1\r\n; last\r\nFormatStr=v\r\n\r\n"},
      {"key added to empty section", "[Config]\r\n\r\n[B]\r\n",
       "[Config]\r\nFormatStr=v\r\n\r\n[B]\r\n"},
      {"key added after a cut header", "[Config]", "[Config]\r\nFormatStr=v\r\n"},
      {"key added to lf section", "[Config]\nA=1\n[B]\n", "[Config]\nA=1\nFormatStr=v\r\n[B]\n"},
      {"key added beside a longer key", "[Config]\r\nFormatStrX=1\r\n",
       "[Config]\r\nFormatStrX=1\r\nFormatStr=v\r\n"},
      {"section in other case", "[CONFIG]\r\n", "[CONFIG]\r\nFormatStr=v\r\n"},
      {"entry replaced", "[Config]\r\n  formatSTR = old \r\nB=2\r\n",
       "[Config]\r\nformatSTR=v\r\nB=2\r\n"},
      {"entry with '=' replaced", "[Config]\r\nFormatStr=a=b\r\n", "[Config]\r\nFormatStr=v\r\n"},
      {"lf entry replaced", "[Config]\nFormatStr=old\nB=2\n", "[Config]\nFormatStr=v\nB=2\n"},
      {"cut entry replaced", "[Config]\r\nFormatStr=old", "[Config]\r\nFormatStr=v"},
      {"first of two keys replaced", "[Config]\r\nFormatStr=1\r\nFormatStr=2\r\n",
       "[Config]\r\nFormatStr=v\r\nFormatStr=2\r\n"},
      {"first of two sections changed", "[Config]\r\nA=1\r\n[X]\r\n[Config]\r\nFormatStr=2\r\n",
       "[Config]\r\nA=1\r\nFormatStr=v\r\n[X]\r\n[Config]\r\nFormatStr=2\r\n"},
      {"sections around kept", "[A]\r\nFormatStr=a\r\n[Config]\r\nFormatStr=c\r\n[B]\r\nK=b",
       "[A]\r\nFormatStr=a\r\n[Config]\r\nFormatStr=v\r\n[B]\r\nK=b"},
  };
  for (const Case& c : cases) {
    Write(c.before);
    WriteIniEntry(path_, "Config", "FormatStr", "v");
    EXPECT_EQ(Read(), c.after) << c.name;
    EXPECT_EQ(ReadEntry(), "v") << c.name;
  }
}

TEST_F(IniFileTest, WriteCreatesTheFileAndKeepsValueBytes) {
  const std::string value = " a=b \"\xC0\xFF\" ";
  WriteIniEntry(path_, "Config", "FormatStr", value);
  EXPECT_EQ(Read(), "[Config]\r\nFormatStr=" + value + "\r\n");
  WriteIniEntry(path_, "Other", "Key", "");
  EXPECT_EQ(Read(), "[Config]\r\nFormatStr=" + value + "\r\n[Other]\r\nKey=\r\n");
  EXPECT_EQ(ReadIniEntry(path_, "other", "KEY", "<fallback>"), "");
}

TEST_F(IniFileTest, FailedWritesRaiseAndKeepTheFile) {
  Write("[Config]\r\nFormatStr=old\r\n");
  test::FailNextWrite(ENOSPC);
  EXPECT_THROW(WriteIniEntry(path_, "Config", "FormatStr", "new"), FileOperationError);
  EXPECT_EQ(Read(), "[Config]\r\nFormatStr=old\r\n");
  EXPECT_THROW(WriteIniEntry((dir_ / "missing" / "x.ini").string(), "Config", "K", "v"),
               FileOperationError);
  fs::remove(path_);
  fs::create_directory(path_);
  EXPECT_THROW(WriteIniEntry(path_, "Config", "FormatStr", "new"), FileOperationError);
}

}  // namespace
}  // namespace veskor
