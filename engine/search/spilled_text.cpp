// A long text decoded into an unlinked temporary file and read through its mapping.
#include "engine/search/spilled_text.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "files/io_error.h"

namespace veskor {

SpilledText::~SpilledText() { Release(); }

void SpilledText::Release() {
  if (data_ != nullptr) ::munmap(data_, static_cast<size_t>(length_));
  if (fd_ >= 0) ::close(fd_);
  data_ = nullptr;
  fd_ = -1;
  length_ = 0;
}

char* SpilledText::Map(uint64_t length) {
  Release();
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string dir = tmpdir != nullptr && *tmpdir == '/' ? tmpdir : "/tmp";
  fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    std::string name = dir + "/.veskor-text-XXXXXX";
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ >= 0) ::unlink(name.c_str());
  }
  // The space is taken first: a full disk then fails here with its message, not later as a
  // fault while the text is written through the mapping.
  int error = fd_ < 0 ? errno : ::posix_fallocate(fd_, 0, static_cast<off_t>(length));
  void* data = MAP_FAILED;
  if (error == 0) {
    data = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (data == MAP_FAILED) error = errno;
  }
  if (error != 0) {
    Release();
    IoError failure = IoErrorFromErrno(error);
    failure.set_file(dir);
    throw failure;
  }
  data_ = data;
  length_ = length;
  return static_cast<char*>(data_);
}

}  // namespace veskor
