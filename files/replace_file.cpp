// mkstemp beside the file, write, fsync, rename over it.
#include "files/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "files/default_file_mode.h"
#include "files/descriptor.h"
#include "files/save_target.h"
#include "files/split_path.h"
#include "files/temporary_files.h"
#include "files/write_fully.h"

namespace veskor {

void ReplaceFile(const std::string& path, std::string_view bytes) {
  ReplaceFileWith(path, [&](int fd) { return WriteFully(fd, bytes); });
}

void ReplaceFileWith(const std::string& link_or_path, const std::function<bool(int fd)>& write) {
  // A symbolic link stays; the file it leads to is the one replaced, beside itself.
  const std::string path = SaveTarget(link_or_path);
  const SplitName split = SplitPath(path);
  std::string temporary = TemporaryTemplate(split.folder, split.name);
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
  const bool replaces = ::stat(path.c_str(), &old) == 0;
  if (replaces) {
    mode = old.st_mode & 07777;
    // And its owner and group, so that a file shared by a group in its folder stays usable by
    // that group, and root's save leaves another user's file theirs. Only root may give the file
    // to another owner; the group goes wherever the process is one of its members. Where it is
    // not, the file keeps the process's group (the caller may compare and say so). Before the
    // mode: a change of owner clears the set-ID bits.
    if (::fchown(file.fd, old.st_uid, old.st_gid) != 0) {
      [[maybe_unused]] const int ignored = ::fchown(file.fd, static_cast<uid_t>(-1), old.st_gid);
    }
  } else {
    mode = DefaultFileMode();
  }
  auto fail = [&](FileOperationError::Stage stage) {
    const int error_number = errno;
    ::unlink(temporary.c_str());
    throw FileOperationError(stage, error_number);
  };
  if (::fchmod(file.fd, mode) != 0) fail(FileOperationError::Stage::kCreate);
  bool written = false;
  try {
    written = write(file.fd);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  if (!written) fail(FileOperationError::Stage::kWrite);
  if (::fsync(file.fd) != 0) fail(FileOperationError::Stage::kWrite);
  const int fd = file.fd;
  file.fd = -1;
  if (::close(fd) != 0) fail(FileOperationError::Stage::kWrite);
  if (::rename(temporary.c_str(), path.c_str()) != 0) fail(FileOperationError::Stage::kCreate);
}

}  // namespace veskor
