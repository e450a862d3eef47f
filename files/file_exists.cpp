// stat's answer: a file of any kind but a folder, reached through its links.
#include "files/file_exists.h"

#include <sys/stat.h>

namespace veskor {

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace veskor
