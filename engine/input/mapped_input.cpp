// open, fstat, mmap and their release; the stamp of the file.
#include "engine/input/mapped_input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>

#include "text/arithmetic.h"

namespace veskor {
namespace {

constexpr uint64_t kSampleBlockBytes = 4096;
constexpr uint64_t kSampleBlocks = 8;  // the first, the last and six between

int64_t Nanoseconds(const timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// FNV-1a over 64-bit words, with a fold of the high half into the low after each: both steps
// are one-to-one for a given word, so a change of any one word always changes the hash.
uint64_t Mix(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0x100000001B3;
  return hash ^ (hash >> 32);
}

uint64_t HashBytes(uint64_t hash, const uint8_t* bytes, size_t size) {
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    hash = Mix(hash, word);
  }
  for (; i < size; ++i) hash = Mix(hash, bytes[i]);
  return hash;
}

// The sampled blocks of the file open at `fd`, `size` bytes long (all of it when it is small).
// A file cut short meanwhile hashes what is left, which is no longer what a run read.
uint64_t SampleHash(int fd, uint64_t size) {
  uint64_t hash = 0xCBF29CE484222325;
  uint8_t block[kSampleBlockBytes];
  const uint64_t blocks = CeilDiv(size, kSampleBlockBytes);
  const uint64_t last = blocks > kSampleBlocks ? size - kSampleBlockBytes : 0;
  for (uint64_t i = 0; i < std::min(blocks, kSampleBlocks); ++i) {
    const uint64_t offset = blocks <= kSampleBlocks  ? i * kSampleBlockBytes
                            : i + 1 == kSampleBlocks ? last
                                                     : last / (kSampleBlocks - 1) * i;
    ssize_t n;
    do {
      n = ::pread(fd, block, sizeof block, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) break;
    hash = HashBytes(hash, block, static_cast<size_t>(n));
  }
  return hash;
}

FileStamp StampOfOpen(int fd, const struct stat& info) {
  const auto size = static_cast<uint64_t>(info.st_size);
  return {
      static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), size,
      Nanoseconds(info.st_mtim),          Nanoseconds(info.st_ctim),          SampleHash(fd, size)};
}

}  // namespace

MappedInput::~MappedInput() {
  if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
  if (fd_ >= 0) ::close(fd_);
}

MappedInput::Result MappedInput::Open(const std::string& path) {
  // O_NONBLOCK keeps a FIFO from blocking the open; a regular file ignores it.
  error_number_ = 0;
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) {
    error_number_ = errno;
    return Result::kCannotOpen;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    error_number_ = errno;
    return Result::kCannotOpen;
  }
  if (!S_ISREG(info.st_mode)) {
    if (S_ISDIR(info.st_mode)) error_number_ = EISDIR;
    return Result::kCannotOpen;
  }
  if (info.st_size <= 0) return Result::kCannotMap;
  const auto size = static_cast<uint64_t>(info.st_size);
  if (size > std::numeric_limits<size_t>::max()) {
    error_number_ = EFBIG;
    return Result::kCannotView;
  }
  void* view = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd_, 0);
  if (view == MAP_FAILED) {
    error_number_ = errno;
    return Result::kCannotView;
  }
  ::madvise(view, static_cast<size_t>(size), MADV_SEQUENTIAL);
  data_ = static_cast<const uint8_t*>(view);
  size_ = size;
  stamp_ = StampOfOpen(fd_, info);
  return Result::kOk;
}

FileStamp StampOf(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {};
  struct stat info {};
  FileStamp stamp;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    stamp = StampOfOpen(fd, info);
  }
  ::close(fd);
  return stamp;
}

}  // namespace veskor
