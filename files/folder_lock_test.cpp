// The folder's lock: one holder at a time, released when the holder ends however it ends, the
// same lock for every user of the folder.
#include "files/folder_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "files/ordinary_user.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;
using Outcome = FolderLock::Outcome;

class FolderLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        (fs::temp_directory_path() / ("veskor_lock_" + std::to_string(::getpid()))).string() + "/";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }

  std::string dir_;
};

TEST_F(FolderLockTest, OneHolderAtATimeAndTheLockFileStays) {
  {
    FolderLock first;
    EXPECT_EQ(first.TryTake(dir_), Outcome::kTaken);
    EXPECT_TRUE(first.held());
    FolderLock second;
    EXPECT_EQ(second.TryTake(dir_), Outcome::kHeldElsewhere);
    EXPECT_FALSE(second.held());
  }
  EXPECT_TRUE(fs::is_regular_file(dir_ + kFolderLockFileName));
  FolderLock after;
  EXPECT_EQ(after.TryTake(dir_), Outcome::kTaken);
  FolderLock missing;
  EXPECT_EQ(missing.TryTake(dir_ + "missing/"), Outcome::kUnavailable);
}

TEST_F(FolderLockTest, AKilledHolderLeavesNoStaleLock) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    FolderLock lock;
    const char taken = lock.TryTake(dir_) == Outcome::kTaken ? 'y' : 'n';
    if (::write(ready[1], &taken, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  EXPECT_EQ(taken, 'y');
  FolderLock refused;
  EXPECT_EQ(refused.TryTake(dir_), Outcome::kHeldElsewhere);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  FolderLock lock;
  EXPECT_EQ(lock.TryTake(dir_), Outcome::kTaken);
}

TEST_F(FolderLockTest, UsersOfOneFolderShareOneLockWhateverTheirUmask) {
  // A folder that two users may write, as a shared installation's; the first user's umask
  // would keep the lock file to itself.
  fs::permissions(dir_, fs::perms::all);
  const mode_t mask = ::umask(077);
  FolderLock first;
  const Outcome taken = first.TryTake(dir_);
  ::umask(mask);
  ASSERT_EQ(taken, Outcome::kTaken);
  test::AsOrdinaryUser([&] {
    FolderLock second;
    EXPECT_EQ(second.TryTake(dir_), Outcome::kHeldElsewhere);
  });
}

// A folder that cannot be written is locked through its lock file; without one there is no
// lock to share, and none is taken.
TEST_F(FolderLockTest, AFolderThatCannotBeWrittenIsLockedByItsLockFileOnly) {
  struct Case {
    const char* name;
    bool lock_file_exists;
    Outcome first;
  };
  for (const Case& c : {Case{"no lock file", false, Outcome::kUnavailable},
                        Case{"an earlier lock file", true, Outcome::kTaken}}) {
    SCOPED_TRACE(c.name);
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove(dir_ + kFolderLockFileName);
    if (c.lock_file_exists) FolderLock().TryTake(dir_);
    // Readable and searchable by everyone, writable by no one but root.
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
    test::AsOrdinaryUser([&] {
      FolderLock first;
      EXPECT_EQ(first.TryTake(dir_), c.first);
      if (c.first == Outcome::kTaken) {
        FolderLock second;
        EXPECT_EQ(second.TryTake(dir_), Outcome::kHeldElsewhere);
      }
    });
    EXPECT_EQ(fs::exists(dir_ + kFolderLockFileName), c.lock_file_exists);
  }
}

}  // namespace
}  // namespace veskor
