// Folder walks and name lists for a batch.
#include "cli/batch_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

#include "cli/line_reader.h"
#include "engine/run/analysis_run.h"
#include "files/file_operation_error.h"

namespace veskor {
namespace {

std::string Join(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The entries of a folder but "." and "..", sorted by their bytes; false when it cannot be read.
bool FolderNames(const std::string& path, std::vector<std::string>& names) {
  const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), &::closedir);
  if (!folder) return false;
  while (const dirent* entry = ::readdir(folder.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  // std::string compares as unsigned bytes: the order of `ls` in the C locale.
  std::sort(names.begin(), names.end());
  return true;
}

// Why an entry that is neither a folder nor a regular file is passed over.
const char* NotScanned(mode_t mode) {
  if (S_ISFIFO(mode)) return kFifoMessage;
  if (S_ISSOCK(mode)) return kSocketMessage;
  return kDeviceMessage;
}

bool Walk(const std::string& folder, const std::function<bool(const BatchEntry&)>& visit) {
  std::vector<std::string> names;
  if (!FolderNames(folder, names)) {
    return visit({folder, BatchEntry::Kind::kError, kCannotOpenMessage, 0, SystemErrorText(errno)});
  }
  for (const std::string& name : names) {
    const std::string path = Join(folder, name);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      if (!visit({path, BatchEntry::Kind::kScan, "", 0, ""})) return false;
      continue;
    }
    if (S_ISLNK(info.st_mode)) {
      struct stat target {};
      // A link that leads nowhere is left to the run, which says it cannot open it.
      if (::stat(path.c_str(), &target) != 0) {
        if (!visit({path, BatchEntry::Kind::kScan, "", 0, ""})) return false;
        continue;
      }
      if (S_ISDIR(target.st_mode)) {
        if (!visit({path, BatchEntry::Kind::kSkipped, kFolderLinkMessage, 0, ""})) return false;
        continue;
      }
      info = target;
    } else if (S_ISDIR(info.st_mode)) {
      if (!Walk(path, visit)) return false;
      continue;
    }
    const auto size = static_cast<uint64_t>(info.st_size);
    const bool scanned = S_ISREG(info.st_mode);
    if (!visit({path, scanned ? BatchEntry::Kind::kScan : BatchEntry::Kind::kSkipped,
                scanned ? "" : NotScanned(info.st_mode), scanned ? size : 0, ""})) {
      return false;
    }
  }
  return true;
}

}  // namespace

void WalkBatch(const std::vector<std::string>& names, bool recursive,
               const std::function<bool(const BatchEntry&)>& visit) {
  for (const std::string& name : names) {
    struct stat info {};
    // A name given is followed wherever it leads, as a single run follows it.
    // A folder without --recursive is handed to the run like any name, which says why it
    // cannot be read in its own words.
    if (recursive && ::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      if (!Walk(name, visit)) return;
      continue;
    }
    if (!visit({name, BatchEntry::Kind::kScan, "", 0, ""})) return;
  }
}

NameList ReadNameList(std::istream& in, bool null_separated, std::vector<std::string>& names) {
  bool too_long = false;
  const bool read =
      ReadLines(in, null_separated ? '\0' : '\n', PATH_MAX, [&](std::string_view name, bool whole) {
        too_long = !whole;
        if (whole && !name.empty()) names.emplace_back(name);
        return whole;
      });
  if (too_long) return NameList::kTooLong;
  return read ? NameList::kRead : NameList::kCannotRead;
}

}  // namespace veskor
