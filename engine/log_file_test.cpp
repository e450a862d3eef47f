// The log on disk: written beside its name and renamed into place, refusals, and what an error
// leaves.
#include "engine/log_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/io_error.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veskor_log_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "in.bin_XOR8.log").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t Entries() { return std::distance(fs::directory_iterator(dir_), fs::directory_iterator()); }

  fs::path dir_;
  std::string path_;
};

TEST_F(LogFileTest, TheLogTakesItsNameOnlyWhenItsRowEnds) {
  std::ofstream(path_) << "earlier";
  ::chmod(path_.c_str(), 0640);
  {
    LogFile log(path_);
    log.Write("line 1\r\n");
    log.Write(std::string(3 << 20, 'x'));  // past the buffer: written straight through
    EXPECT_EQ(Read(path_), "earlier");     // the name still holds the earlier log
    EXPECT_EQ(Entries(), 2u);              // and the new one waits beside it
    log.Close();
  }
  EXPECT_EQ(Read(path_), "line 1\r\n" + std::string(3 << 20, 'x'));
  struct stat info {};
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);  // the permissions of the log it replaced
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(LogFileTest, ALogThatAnErrorEndsLeavesNothingBehind) {
  std::ofstream(path_) << "earlier";
  {
    LogFile log(path_);
    log.Write("new\r\n");
  }  // destroyed without Close: an error ended the run
  EXPECT_EQ(Read(path_), "earlier");
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(LogFileTest, OnlyARegularFileAtTheNameIsReplaced) {
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { fs::create_symlink(dir_ / "target", path_); }, "File access denied"},
      {[&] { ::mkfifo(path_.c_str(), 0600); }, "File access denied"},
      {[&] { fs::create_directory(path_); }, "I/O error 21"},
  };
  for (const auto& [make, message] : cases) {
    make();
    try {
      LogFile log(path_);
      ADD_FAILURE() << message;
    } catch (const IoError& e) {
      EXPECT_EQ(e.what(), message);
      EXPECT_EQ(e.file(), path_);  // the error names its file
    }
    fs::remove(path_);
    EXPECT_EQ(Entries(), 0u);
  }
}

}  // namespace
}  // namespace veskor
