// open, flock with retries, read to the end.
#include "files/read_whole_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "files/descriptor.h"

namespace veskor {
namespace {

bool LockWithRetry(int fd) {
  using namespace std::chrono_literals;
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    std::this_thread::sleep_for(50ms);
  }
  errno = EWOULDBLOCK;
  return false;
}

}  // namespace

std::string ReadWholeFile(const std::string& path, bool exclusive) {
  Descriptor file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (file.fd < 0) throw FileOperationError(FileOperationError::Stage::kOpen, errno);
  struct stat info {};
  if (::fstat(file.fd, &info) != 0)
    throw FileOperationError(FileOperationError::Stage::kOpen, errno);
  if (!S_ISREG(info.st_mode)) {
    throw FileOperationError(FileOperationError::Stage::kOpen,
                             S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  }
  if (exclusive && !LockWithRetry(file.fd)) {
    throw FileOperationError(FileOperationError::Stage::kOpen, errno);
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileOperationError(FileOperationError::Stage::kRead, errno);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

}  // namespace veskor
