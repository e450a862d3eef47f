// readlink hop by hop, with the kernel's own limit on the number of hops.
#include "files/save_target.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/split_path.h"

namespace veskor {
namespace {

// Linux follows at most 40 links in one path.
constexpr int kMaxLinkHops = 40;

}  // namespace

std::string SaveTarget(const std::string& path) {
  std::string target = path;
  for (int hops = 0;; ++hops) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
    if (hops == kMaxLinkHops) throw FileOperationError(FileOperationError::Stage::kCreate, ELOOP);
    char link[PATH_MAX];
    const ssize_t length = ::readlink(target.c_str(), link, sizeof link);
    if (length < 0) throw FileOperationError(FileOperationError::Stage::kCreate, errno);
    if (static_cast<size_t>(length) == sizeof link) {
      throw FileOperationError(FileOperationError::Stage::kCreate, ENAMETOOLONG);
    }
    // A relative link names its target from the link's own folder.
    const std::string named(link, static_cast<size_t>(length));
    target = named.front() == '/' ? named : SplitPath(target).folder + named;
  }
}

}  // namespace veskor
