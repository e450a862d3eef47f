// Program files on disk: the existence test, reading a whole file under an advisory lock, and
// saving by atomic replacement, so that a crash, a full disk or a failed write leaves the old
// file whole.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "text/error.h"

namespace veskor {

// The entry exists and is not a directory.
bool FileExists(const std::string& path);

// The operating system's text for an errno value, without trailing blanks and periods.
std::string SystemErrorText(int error_number);

// A failed open, read, create or write, with the stage and the errno; each file turns it into
// its own message.
class FileOperationError : public Error {
 public:
  enum class Stage { kOpen, kRead, kCreate, kWrite };
  FileOperationError(Stage stage, int error_number);
  Stage stage() const { return stage_; }
  int error_number() const { return error_number_; }

 private:
  Stage stage_;
  int error_number_;
};

// Reads the whole file. With `exclusive`, an advisory lock (flock) keeps another instance of
// the program from saving it meanwhile: Linux files have no sharing modes, and only programs
// that ask for the lock respect it. A lock held elsewhere for more than about a second fails
// the open with EWOULDBLOCK. Raises FileOperationError (kOpen or kRead).
std::string ReadWholeFile(const std::string& path, bool exclusive);

// Replaces the file at `path` by `bytes`: a temporary file in the same folder is written,
// flushed to disk and renamed over the old one, keeping the old file's permissions. On any
// failure the old file stays as it was and the temporary file is removed. A symbolic link is
// kept: the file it leads to is replaced, with the temporary file beside that one; a dangling
// link gets the file it names (its folder must exist). Raises FileOperationError (kCreate when
// the temporary file cannot be made or the links loop, kWrite otherwise).
void ReplaceFile(const std::string& path, std::string_view bytes);

// The file that ReplaceFile(path) replaces: `path`, or the end of its chain of symbolic links
// (which need not exist). FileOperationError (kCreate, ELOOP) for a loop of links.
std::string SaveTarget(const std::string& path);

// Whether `entry` is a temporary file name made from `name` by mkstemp: ".NAME." and the six
// letters or digits it puts in place of "XXXXXX".
bool IsTemporaryName(std::string_view entry, std::string_view name);

// Removes what saves of `path` left when the process was killed between the temporary file's
// creation and its rename: the regular files beside SaveTarget(path) named as ReplaceFile names
// its temporary files (".NAME." and six letters or digits). Only safe while no other process may
// be saving the file. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& path);

// The permissions of a new file: 0666 less the process's umask.
mode_t DefaultFileMode();

// Writes every byte to fd, retrying after interruptions; false with errno set on failure.
// Every file the program writes goes through here, so a test can make it fail like a full disk.
bool WriteFully(int fd, std::string_view bytes);

namespace testing {
// Makes the next WriteFully fail with `error_number` after `bytes_before` bytes, to test what
// a full disk does to each file and to a log.
void FailNextWrite(int error_number, size_t bytes_before = 0);
}  // namespace testing

}  // namespace veskor
