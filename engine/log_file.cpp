// The log file on disk.
#include "engine/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "files/io_error.h"
#include "files/replace_file.h"

namespace veskor {
namespace {

constexpr size_t kBufferBytes = size_t{1} << 20;

}  // namespace

void WriteAll(int fd, const char* data, size_t size) {
  if (!WriteFully(fd, std::string_view(data, size))) throw IoErrorFromErrno(errno);
}

LogFile::LogFile(const std::string& path) {
  // O_NOFOLLOW: a log is never written through a symbolic link, whose target could be any file.
  fd_ =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd_ < 0) throw IoErrorFromErrno(errno);
  buffer_.reserve(kBufferBytes);
}

LogFile::~LogFile() {
  if (fd_ >= 0) {
    try {
      Flush();
    } catch (...) {
      // An error has already ended the run; this one would only hide it.
    }
    ::close(fd_);
  }
}

void LogFile::WriteLine(std::string_view line) {
  if (buffer_.size() + line.size() + 2 > kBufferBytes) {
    Flush();
    if (line.size() + 2 > kBufferBytes) {
      WriteAll(fd_, line.data(), line.size());
      WriteAll(fd_, "\r\n", 2);
      return;
    }
  }
  buffer_.append(line);
  buffer_.append("\r\n");
}

void LogFile::Flush() {
  if (buffer_.empty()) return;
  std::string pending;
  pending.swap(buffer_);
  buffer_.reserve(kBufferBytes);
  WriteAll(fd_, pending.data(), pending.size());
}

void LogFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  try {
    Flush();
  } catch (...) {
    fd_ = -1;
    ::close(fd);
    throw;
  }
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) throw IoErrorFromErrno(errno);
}

}  // namespace veskor
