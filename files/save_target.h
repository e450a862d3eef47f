// The file that a save of a path replaces: the path itself, or the end of its chain of symbolic
// links, so that a save keeps the links.
#pragma once

#include <string>

#include "files/file_operation_error.h"

namespace veskor {

// The file that ReplaceFile(path) replaces: `path`, or the end of its chain of symbolic links
// (which need not exist). FileOperationError (kCreate, ELOOP) for a loop of links.
std::string SaveTarget(const std::string& path);

}  // namespace veskor
