// The existence test of a program file or an input: an entry that is not a folder.
#pragma once

#include <string>

namespace veskor {

// The entry exists and is not a directory.
bool FileExists(const std::string& path);

}  // namespace veskor
