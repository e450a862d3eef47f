// The folder's lock: open the lock file (or the folder), flock it, keep the descriptor.
#include "files/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace veskor {

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

FolderLock::Outcome FolderLock::TryTake(const std::string& dir) {
  if (fd_ >= 0) return Outcome::kTaken;
  const std::string path = dir + kFolderLockFileName;
  // Close-on-exec: a program started from the window (the log's viewer) must not inherit the
  // lock and keep the folder claimed after the window has ended.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Outcome::kUnavailable;
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const bool held_elsewhere = errno == EWOULDBLOCK;
    ::close(fd);
    return held_elsewhere ? Outcome::kHeldElsewhere : Outcome::kUnavailable;
  }
  fd_ = fd;
  return Outcome::kTaken;
}

}  // namespace veskor
