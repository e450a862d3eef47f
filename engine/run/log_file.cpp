// The log file on disk: a locked temporary file in the log's folder, renamed into place at the
// row's end, and the removal of those that killed runs left.
#include "engine/run/log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "files/default_file_mode.h"
#include "files/io_error.h"
#include "files/split_path.h"
#include "files/temporary_files.h"
#include "files/write_fully.h"

namespace veskor {
namespace {

// The longest file name the temporary name may have (NAME_MAX is 255 on Linux file systems).
constexpr size_t kMaxNameBytes = 255;
// Attempts at a temporary file that another log of the name does not remove as it is made.
constexpr int kCreateAttempts = 16;

// Whether `fd` is still the regular file named `path`.
bool StillNamed(int fd, const std::string& path) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && S_ISREG(named.st_mode) &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Removes the temporary files of `name`'s logs in `folder` that no run holds: a run holds a lock
// on its file while it writes, so an unlocked one was left by a run that was killed.
void RemoveAbandonedTemporaries(const std::string& folder, const std::string& name) {
  ForEachTemporary(folder, name, [](const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return;
    // Under the lock, the name must still be the file locked: a run may have just renamed it
    // into place.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path)) ::unlink(path.c_str());
    ::close(fd);
  });
}

}  // namespace

// The I/O error of a failed call on the log, naming the log.
[[noreturn]] void LogFile::Fail(int error_number) const {
  IoError error = IoErrorFromErrno(error_number);
  error.set_file(path_);
  throw error;
}

LogFile::LogFile(const std::string& path) : path_(path) {
  // Only a regular file at the log's name is replaced: a symbolic link's target could be any
  // file, and a FIFO or device is no log.
  struct stat old {};
  const bool exists = ::lstat(path.c_str(), &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) Fail(EISDIR);
  if (exists && !S_ISREG(old.st_mode)) Fail(EACCES);
  SplitName split = SplitPath(path);
  // ".", the name, ".XXXXXX": cut the name so that the temporary name stays a valid one.
  split.name.resize(std::min(split.name.size(), kMaxNameBytes - 8));
  RemoveAbandonedTemporaries(split.folder, split.name);
  for (int attempt = 0; fd_ < 0; ++attempt) {
    if (attempt == kCreateAttempts) Fail(EEXIST);
    temporary_ = TemporaryTemplate(split.folder, split.name);
    fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd_ < 0) Fail(errno);
    // Another log of the name that is being created may take the new file, not yet locked, for
    // an abandoned one and remove it: then it is made again.
    if (::flock(fd_, LOCK_EX) != 0 || !StillNamed(fd_, temporary_)) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  // The log keeps the permissions of the one it replaces; a new one gets 0666 less the umask.
  if (::fchmod(fd_, exists ? (old.st_mode & 07777) : DefaultFileMode()) != 0) {
    const int error_number = errno;
    Discard();
    Fail(error_number);
  }
}

LogFile::~LogFile() { Discard(); }

void LogFile::Discard() {
  if (fd_ < 0) return;
  ::unlink(temporary_.c_str());
  ::close(fd_);
  fd_ = -1;
}

bool WriteBuffer::Write(int fd, std::string_view bytes) {
  const bool large = bytes.size() >= kBytes / 4;
  if (large || buffer_.size() + bytes.size() > kBytes) {
    if (!Flush(fd)) return false;
    if (large) return WriteFully(fd, bytes);
  }
  buffer_.append(bytes);
  return true;
}

bool WriteBuffer::Flush(int fd) {
  if (buffer_.empty()) return true;
  if (!WriteFully(fd, buffer_)) return false;
  buffer_.clear();
  return true;
}

void LogFile::Write(std::string_view bytes) {
  if (!buffer_.Write(fd_, bytes)) Fail(errno);
}

void LogFile::Flush() {
  if (!buffer_.Flush(fd_)) Fail(errno);
}

void LogFile::Close() {
  if (fd_ < 0) return;
  try {
    Flush();
  } catch (...) {
    Discard();
    throw;
  }
  const int fd = fd_;
  fd_ = -1;
  // The lock belongs to the open file, which a duplicate keeps open past the close whose error
  // is checked: until the rename no other log of the name may take the file for an abandoned one.
  const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  auto fail = [&](int error_number) {
    ::unlink(temporary_.c_str());
    if (held >= 0) ::close(held);
    Fail(error_number);
  };
  if (::close(fd) != 0 && errno != EINTR) fail(errno);
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
  if (held >= 0) ::close(held);
}

}  // namespace veskor
