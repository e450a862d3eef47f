// The folder's lock: open the one lock file every user shares, flock it, keep the descriptor.
#include "files/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace veskor {
namespace {

// The lock file of its owner gets the folder's group, and every user who can reach the folder
// may open it: whatever the umask of the window that made it, the next user of the folder takes
// the same lock. Failures leave the file as it is.
void ShareWithTheFolder(int fd, const std::string& dir) {
  struct stat file {};
  struct stat folder {};
  if (::fstat(fd, &file) != 0 || file.st_uid != ::geteuid() || ::stat(dir.c_str(), &folder) != 0) {
    return;
  }
  if (file.st_gid != folder.st_gid && ::fchown(fd, static_cast<uid_t>(-1), folder.st_gid) != 0) {
    // Not a member of the folder's group: the file stays in the user's.
  }
  const mode_t mode = (folder.st_mode & 0666) | 0444;
  if ((file.st_mode & 07777) != mode) ::fchmod(fd, mode);
}

}  // namespace

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

FolderLock::Outcome FolderLock::TryTake(const std::string& dir) {
  if (fd_ >= 0) return Outcome::kTaken;
  const std::string path = dir + kFolderLockFileName;
  // Close-on-exec: a program started from the window (the log's viewer) must not inherit the
  // lock and keep the folder claimed after the window has ended. A user who may not write the
  // lock file locks it through a read-only descriptor: flock does not ask for more.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0666);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
  // Without the one lock file everyone shares there is no lock: any other (the folder's, say)
  // would let a user who can open the file and one who cannot both in.
  if (fd < 0) return Outcome::kUnavailable;
  ShareWithTheFolder(fd, dir);
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
