// The cut at the last "/".
#include "files/split_path.h"

namespace veskor {

SplitName SplitPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

}  // namespace veskor
