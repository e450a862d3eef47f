// Saving a program file by atomic replacement, so that a crash, a full disk or a failed write
// leaves the old file whole.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "files/file_operation_error.h"

namespace veskor {

// Replaces the file at `path` by `bytes`: a temporary file in the same folder is written,
// flushed to disk and renamed over the old one, keeping the old file's permissions, and its owner
// and group as far as the process may give them (root: both; a member of the group: the group;
// anyone else: neither, and the new file has the process's group). On any
// failure the old file stays as it was and the temporary file is removed. A symbolic link is
// kept: the file it leads to (SaveTarget) is replaced, with the temporary file beside that one;
// a dangling link gets the file it names (its folder must exist). Raises FileOperationError
// (kCreate when the temporary file cannot be made or the links loop, kWrite otherwise).
void ReplaceFile(const std::string& path, std::string_view bytes);

// ReplaceFile with the bytes written by `write` to the temporary file's descriptor, for what is
// too large to hold whole: `write` answers false, with errno set, when a write failed (kWrite).
// Whatever `write` throws removes the temporary file and goes on up; the old file stays.
void ReplaceFileWith(const std::string& path, const std::function<bool(int fd)>& write);

}  // namespace veskor
