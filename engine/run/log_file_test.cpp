// The log on disk: written beside its name and renamed into place, refusals, and what an error
// leaves.
#include "engine/run/log_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

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

TEST_F(LogFileTest, ANameTakenByAFolderDuringTheRowFailsTheCloseAndLeavesNoTemporary) {
  LogFile log(path_);
  log.Write("line\r\n");
  fs::create_directories(fs::path(path_) / "inside");
  try {
    log.Close();
    ADD_FAILURE() << "the log replaced a folder";
  } catch (const IoError& e) {
    EXPECT_STREQ(e.what(), "I/O error 21");
    EXPECT_EQ(e.file(), path_);
  }
  EXPECT_TRUE(fs::is_directory(path_));
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

// A run killed while it wrote (SIGKILL cannot be caught) leaves its temporary file; the next log
// of that name removes it, and only it: a live run's file is locked, and other names are not ours.
TEST_F(LogFileTest, ANewLogRemovesTheTemporaryFilesThatNoRunHolds) {
  enum Kind { kFile, kLocked, kFolder, kLink };
  const struct {
    std::string name;
    Kind kind;
    bool removed;
  } cases[] = {
      {".in.bin_XOR8.log.Ab3xYz", kFile, true},      {".in.bin_XOR8.log.000000", kFile, true},
      {".in.bin_XOR8.log.Lk9Qw2", kLocked, false},  // a run that is still writing
      {".in.bin_XOR8.log.Ab3xY", kFile, false},      {".in.bin_XOR8.log.Ab3xYz7", kFile, false},
      {".in.bin_XOR8.log.Ab3-Yz", kFile, false},     {"in.bin_XOR8.log.Ab3xYz", kFile, false},
      {".in.bin_XOR8.log.log.Ab3xYz", kFile, false}, {".n.bin_XOR8.log.Ab3xYz", kFile, false},
      {".in.bin_XOR8.log.Dir123", kFolder, false},   {".in.bin_XOR8.log.Lnk123", kLink, false},
  };
  std::vector<int> locks;
  for (const auto& c : cases) {
    const fs::path path = dir_ / c.name;
    if (c.kind == kFolder) {
      fs::create_directory(path);
    } else if (c.kind == kLink) {
      std::ofstream(dir_ / "target") << "kept";
      fs::create_symlink(dir_ / "target", path);
    } else {
      std::ofstream(path) << "stale";
    }
    if (c.kind == kLocked) {
      locks.push_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
      ASSERT_EQ(::flock(locks.back(), LOCK_EX | LOCK_NB), 0);
    }
  }
  LogFile log(path_);
  for (const auto& c : cases)
    EXPECT_EQ(!fs::exists(fs::symlink_status(dir_ / c.name)), c.removed) << c.name;
  EXPECT_EQ(Read(dir_ / "target"), "kept");
  for (int fd : locks) ::close(fd);
  // The log being written holds its own lock: a second log of the name leaves it whole.
  log.Write("first\r\n");
  { LogFile second(path_); }
  log.Close();
  EXPECT_EQ(Read(path_), "first\r\n");
}

}  // namespace
}  // namespace veskor
