// A path cut into its folder and its last component, as saves and logs name the temporary files
// they write beside their file.
#pragma once

#include <string>

namespace veskor {

struct SplitName {
  std::string folder;  // ending with "/", or empty for a bare name
  std::string name;
};
SplitName SplitPath(const std::string& path);

}  // namespace veskor
