// Reading a program file whole, optionally under the advisory lock that keeps another instance
// of the program from saving it meanwhile.
#pragma once

#include <string>

#include "files/file_operation_error.h"

namespace veskor {

// Reads the whole file. With `exclusive`, an advisory lock (flock) keeps another instance of
// the program from saving it meanwhile: Linux files have no sharing modes, and only programs
// that ask for the lock respect it. A lock held elsewhere for more than about a second fails
// the open with EWOULDBLOCK. Raises FileOperationError (kOpen or kRead).
std::string ReadWholeFile(const std::string& path, bool exclusive);

}  // namespace veskor
