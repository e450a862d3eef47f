// The umask read from /proc/self/status, which leaves it as it is for the other threads.
#include "files/default_file_mode.h"

#include <sys/stat.h>

#include <cstdio>

namespace veskor {

mode_t DefaultFileMode() {
  // The kernel reports the umask in /proc/self/status; setting it to read it back would change
  // it for a moment under every other thread.
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(0666 & ~mask);
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace veskor
