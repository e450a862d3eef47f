// open, fstat, mmap and their release.
#include "engine/mapped_input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <limits>

namespace veskor {

MappedInput::~MappedInput() {
  if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
  if (fd_ >= 0) ::close(fd_);
}

MappedInput::Result MappedInput::Open(const std::string& path) {
  // O_NONBLOCK keeps a FIFO from blocking the open; a regular file ignores it.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) return Result::kCannotOpen;
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return Result::kCannotOpen;
  if (info.st_size <= 0) return Result::kCannotMap;
  const auto size = static_cast<uint64_t>(info.st_size);
  if (size > std::numeric_limits<size_t>::max()) return Result::kCannotView;
  void* view = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd_, 0);
  if (view == MAP_FAILED) return Result::kCannotView;
  ::madvise(view, static_cast<size_t>(size), MADV_SEQUENTIAL);
  data_ = static_cast<const uint8_t*>(view);
  size_ = size;
  modified_ = static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  return Result::kOk;
}

}  // namespace veskor
