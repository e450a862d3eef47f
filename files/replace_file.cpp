// open/flock/read, mkstemp/write/fsync/rename, the links a save follows and the temporary
// files a killed save leaves.
#include "files/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

namespace veskor {
namespace {

struct InjectedFailure {
  bool armed = false;
  int error_number = 0;
  size_t bytes_before = 0;
};
InjectedFailure injected;

// Closes a descriptor when it goes out of scope.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Linux follows at most 40 links in one path.
constexpr int kMaxLinkHops = 40;

// A path's folder (ending with "/", or empty for a bare name) and its last component.
struct SplitName {
  std::string folder;
  std::string name;
};
SplitName SplitPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// The mkstemp template of a save's temporary file: ".NAME.XXXXXX" beside the file.
std::string TemporaryTemplate(const std::string& path) {
  const SplitName split = SplitPath(path);
  return split.folder + "." + split.name + ".XXXXXX";
}

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

bool IsTemporaryName(std::string_view entry, std::string_view name) {
  if (entry.size() != name.size() + 8 || entry.front() != '.' ||
      entry.substr(1, name.size()) != name || entry[name.size() + 1] != '.') {
    return false;
  }
  const std::string_view suffix = entry.substr(name.size() + 2);
  return std::all_of(suffix.begin(), suffix.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string SystemErrorText(int error_number) {
  std::string text = std::strerror(error_number);
  while (!text.empty() && (text.back() == ' ' || text.back() == '.' || text.back() == '\t')) {
    text.pop_back();
  }
  return text;
}

FileOperationError::FileOperationError(Stage stage, int error_number)
    : Error(SystemErrorText(error_number)), stage_(stage), error_number_(error_number) {}

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

void ReplaceFile(const std::string& link_or_path, std::string_view bytes) {
  // A symbolic link stays; the file it leads to is the one replaced, beside itself.
  const std::string path = SaveTarget(link_or_path);
  std::string temporary = TemporaryTemplate(path);
  // A file made read-only keeps its contents, although renaming over it would succeed.
  if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) {
    throw FileOperationError(FileOperationError::Stage::kCreate, errno);
  }
  Descriptor file;
  file.fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (file.fd < 0) throw FileOperationError(FileOperationError::Stage::kCreate, errno);
  // Keep the permissions of the file being replaced; a new one gets the usual 0666 less umask.
  mode_t mode = 0;
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    mode = DefaultFileMode();
  }
  auto fail = [&](FileOperationError::Stage stage) {
    const int error_number = errno;
    ::unlink(temporary.c_str());
    throw FileOperationError(stage, error_number);
  };
  if (::fchmod(file.fd, mode) != 0) fail(FileOperationError::Stage::kCreate);
  if (!WriteFully(file.fd, bytes)) fail(FileOperationError::Stage::kWrite);
  if (::fsync(file.fd) != 0) fail(FileOperationError::Stage::kWrite);
  const int fd = file.fd;
  file.fd = -1;
  if (::close(fd) != 0) fail(FileOperationError::Stage::kWrite);
  if (::rename(temporary.c_str(), path.c_str()) != 0) fail(FileOperationError::Stage::kCreate);
}

int RemoveStaleTemporaries(const std::string& path) {
  std::string target;
  try {
    target = SaveTarget(path);
  } catch (const FileOperationError&) {
    return 0;  // a loop of links: no save of it can have begun
  }
  const SplitName split = SplitPath(target);
  DIR* folder = ::opendir(split.folder.empty() ? "." : split.folder.c_str());
  if (folder == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    if (!IsTemporaryName(name, split.name)) continue;
    const std::string stale = split.folder + std::string(name);
    struct stat info {};
    // mkstemp makes regular files; a link or folder of that name is someone else's.
    if (::lstat(stale.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::unlink(stale.c_str()) == 0) {
      ++removed;
    }
  }
  ::closedir(folder);
  return removed;
}

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

namespace testing {
void FailNextWrite(int error_number, size_t bytes_before) {
  injected = {true, error_number, bytes_before};
}
}  // namespace testing

}  // namespace veskor
