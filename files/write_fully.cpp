// write until every byte is out, and the failure a test arms for the next call.
#include "files/write_fully.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace veskor {
namespace {

struct InjectedFailure {
  bool armed = false;
  int error_number = 0;
  size_t bytes_before = 0;
};
InjectedFailure injected;

}  // namespace

bool WriteFully(int fd, std::string_view bytes) {
  size_t written_total = 0;
  if (injected.armed) {
    injected.armed = false;
    const size_t first = std::min(bytes.size(), injected.bytes_before);
    if (!WriteFully(fd, bytes.substr(0, first))) return false;
    errno = injected.error_number;
    return false;
  }
  while (written_total < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written_total, bytes.size() - written_total);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written_total += static_cast<size_t>(n);
  }
  return true;
}

namespace test {
void FailNextWrite(int error_number, size_t bytes_before) {
  injected = {true, error_number, bytes_before};
}
}  // namespace test

}  // namespace veskor
