// The names mkstemp makes from ".NAME.XXXXXX", matched in a folder's listing.
#include "files/temporary_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "files/save_target.h"
#include "files/split_path.h"

namespace veskor {
namespace {

// Whether `entry` is a temporary file name made from `name` by mkstemp: ".NAME." and the six
// letters or digits it puts in place of "XXXXXX".
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

}  // namespace

std::string TemporaryTemplate(const std::string& folder, const std::string& name) {
  return folder + "." + name + ".XXXXXX";
}

void ForEachTemporary(const std::string& folder, const std::string& name,
                      const std::function<void(const std::string& path)>& found) {
  DIR* entries = ::opendir(folder.empty() ? "." : folder.c_str());
  if (entries == nullptr) return;
  while (const dirent* entry = ::readdir(entries)) {
    if (!IsTemporaryName(entry->d_name, name)) continue;
    const std::string path = folder + entry->d_name;
    struct stat info {};
    // mkstemp makes regular files.
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) found(path);
  }
  ::closedir(entries);
}

int RemoveStaleTemporaries(const std::string& path) {
  std::string target;
  try {
    target = SaveTarget(path);
  } catch (const FileOperationError&) {
    return 0;  // a loop of links: no save of it can have begun
  }
  const SplitName split = SplitPath(target);
  int removed = 0;
  ForEachTemporary(split.folder, split.name, [&](const std::string& stale) {
    if (::unlink(stale.c_str()) == 0) ++removed;
  });
  return removed;
}

}  // namespace veskor
