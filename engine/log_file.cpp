// The log file on disk: a temporary file in the log's folder, renamed into place at the row's end.
#include "engine/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "files/io_error.h"
#include "files/replace_file.h"

namespace veskor {
namespace {

// The longest file name the temporary name may have (NAME_MAX is 255 on Linux file systems).
constexpr size_t kMaxNameBytes = 255;

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
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // ".", the name, ".XXXXXX": cut the name so that the temporary name stays a valid one.
  name.resize(std::min(name.size(), kMaxNameBytes - 8));
  temporary_ = folder + "." + name + ".XXXXXX";
  fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
  if (fd_ < 0) Fail(errno);
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
  ::close(fd_);
  fd_ = -1;
  ::unlink(temporary_.c_str());
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
  if (::close(fd) != 0 && errno != EINTR) {
    const int error_number = errno;
    ::unlink(temporary_.c_str());
    Fail(error_number);
  }
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
    const int error_number = errno;
    ::unlink(temporary_.c_str());
    Fail(error_number);
  }
}

}  // namespace veskor
