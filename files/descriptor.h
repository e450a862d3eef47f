// Descriptor: a file descriptor closed when it goes out of scope, for the files of this folder
// that hold one only while a call lasts.
#pragma once

#include <unistd.h>

namespace veskor {

struct Descriptor {
  int fd = -1;
  Descriptor() = default;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace veskor
