// The program files' folder, the start-up loads and the shut-down saves.
#include "program_files/program_files.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include "files/file_exists.h"
#include "files/file_operation_error.h"
#include "files/read_whole_file.h"
#include "files/replace_file.h"
#include "files/temporary_files.h"
#include "presets/preset_file.h"
#include "settings/settings_file.h"
#include "tasks/table_file.h"
#include "text/error.h"

namespace veskor {
namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return dir;
}

// The user's configuration folder for the program: $XDG_CONFIG_HOME/veskor/, else
// ~/.config/veskor/; empty when neither variable names one.
std::string UserConfigDir() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::string(home) + "/.config";
  } else {
    return "";
  }
  return WithSlash(base) + "veskor/";
}

// The three files' names, in the order shut-down saves them.
std::vector<std::string> FileNames() {
  return {std::string(kSettingsFileName), kTableFileName, kPresetFileName};
}

// Any entry of one of the three names, a dangling link included: the folder is in use.
bool HoldsAnyFile(const std::string& dir) {
  for (const std::string& name : FileNames()) {
    struct stat info {};
    if (::lstat((dir + name).c_str(), &info) == 0) return true;
  }
  return false;
}

// Any entry at the path, a dangling link included.
bool EntryExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// The local time as 20261209-203000, for the names of kept copies.
std::string TimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

// `path`, or `path` with "-2", "-3", ... when an entry of that name exists.
std::string UnusedName(const std::string& path) {
  std::string name = path;
  for (int n = 2; EntryExists(name); ++n) name = path + "-" + std::to_string(n);
  return name;
}

// A group's name, or its number when it has none.
std::string GroupName(gid_t group) {
  std::vector<char> buffer(4096);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(group);
}

}  // namespace

bool IsInstalledCopy(const std::string& exe_dir) {
  const std::string dir = WithSlash(exe_dir);
  if (std::filesystem::path(dir).parent_path().filename() != "bin") return false;
  struct stat info {};
  return ::stat((dir + "../share/veskor").c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string StarterPresetsPath(const std::string& exe_dir) {
  return WithSlash(exe_dir) + "../share/veskor/" + kPresetFileName;
}

std::string ExecutableDir() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "./";
  return WithSlash(exe.parent_path().string());
}

std::string ProgramFilesDir(const std::string& exe_dir, bool create) {
  const std::string dir = WithSlash(exe_dir);
  // An installation keeps the user's files in the user's folder, even where PREFIX/bin can be
  // written: a file there would be every user's, and no install would see its starter presets.
  if (!IsInstalledCopy(dir) && (HoldsAnyFile(dir) || ::access(dir.c_str(), W_OK) == 0)) {
    return dir;
  }
  const std::string user = UserConfigDir();
  if (user.empty()) return dir;
  if (create) {
    std::error_code error;
    std::filesystem::create_directories(user, error);
  }
  return user;
}

ProgramFiles::ProgramFiles(const std::string& exe_dir, bool read_only)
    : dir_(ProgramFilesDir(exe_dir, /*create=*/!read_only)), read_only_(read_only) {
  const bool installed = IsInstalledCopy(exe_dir);
  if (dir_ != WithSlash(exe_dir) || installed) starter_ = StarterPresetsPath(exe_dir);
  // An installation without a user's folder (no HOME) reads as the runner does and writes
  // nothing: not into PREFIX/bin.
  if (installed && dir_ == WithSlash(exe_dir)) {
    read_only_ = true;
    saves_ = false;
  }
}

FolderLock::Outcome ProgramFiles::TakeFolder() {
  if (read_only_) return FolderLock::Outcome::kUnavailable;
  const FolderLock::Outcome outcome = lock_.TryTake(dir_);
  if (outcome == FolderLock::Outcome::kUnavailable) saves_ = false;
  // Unclaimed, another instance might be in the middle of a save: its files stay.
  if (outcome == FolderLock::Outcome::kTaken) {
    for (const std::string& name : FileNames()) RemoveStaleTemporaries(dir_ + name);
  }
  return outcome;
}

std::string ProgramFiles::LoadPresets(PresetList& presets) {
  std::string path = dir_ + kPresetFileName;
  const bool seed = !starter_.empty() && !EntryExists(path) && FileExists(starter_);
  // The runner writes nothing: before the window's first start it reads what the window would
  // copy.
  if (seed && read_only_) path = starter_;
  // What cannot be read is said, rather than every task skipped for want of a preset (the
  // runner) or every preset made lost at exit (the window).
  const auto unreadable = [&](const std::string& error) {
    presets_failed_ = true;
    if (read_only_) throw Error(error);
    return Substitute(kPresetsUnreadableMessage, error);
  };
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return unreadable(
        Substitute(Substitute(kCannotOpenFileMessage, path), SystemErrorText(EISDIR)));
  }
  if (seed && !read_only_) {
    try {
      ReplaceFile(path, ReadWholeFile(starter_, /*exclusive=*/false));
    } catch (const std::exception&) {
      // Without the copy the window starts without presets, as it did before there were any.
    }
  }
  size_t piece = 0;
  try {
    piece = veskor::LoadPresets(presets, path);
  } catch (const Error& e) {
    return unreadable(e.what());
  } catch (...) {
    presets_failed_ = true;
    throw;
  }
  if (piece == 0 || !saves_ || read_only_) return "";
  try {
    const std::string kept = UnusedName(path + ".broken-" + TimeStamp());
    ReplaceFile(kept, ReadWholeFile(path, /*exclusive=*/false));
    return Substitute(Substitute(kPresetsKeptMessage, std::to_string(piece)), kept);
  } catch (const std::exception&) {
    presets_failed_ = true;
    return Substitute(kPresetsNotSavedMessage, std::to_string(piece));
  }
}

void ProgramFiles::LoadTable(TaskTable& table, const PresetList& presets) {
  table.AddDefaultTasks(presets.PresetName(0));
  const std::string path = dir_ + kTableFileName;
  if (!FileExists(path)) return;
  table.ClearTasks();
  try {
    LoadTableText(table, path, u',');
  } catch (...) {
    table_failed_ = true;
    throw;
  }
  table.SelectTask(0);
}

std::string ProgramFiles::LoadFormat() const {
  return LoadSettings(dir_ + std::string(kSettingsFileName));
}

std::vector<std::string> ProgramFiles::SaveAll(const std::string& format, TaskTable& table,
                                               PresetList& presets) {
  std::vector<std::string> failures;
  if (!saves_) {
    presets.ClearPresets();
    return failures;
  }
  auto attempt = [&](const std::string& path, auto&& save) {
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    try {
      save();
    } catch (const Error& e) {
      // An error whose message does not name its file carries it: the box must say which.
      failures.push_back(e.file().empty() ? std::string(e.what()) : e.file() + ": " + e.what());
      return;
    } catch (const std::exception& e) {
      failures.emplace_back(e.what());
      return;
    }
    struct stat after {};
    if (existed && ::stat(path.c_str(), &after) == 0 && after.st_gid != before.st_gid) {
      failures.push_back(Substitute(kGroupNotKeptMessage,
                                    {path, GroupName(after.st_gid), GroupName(before.st_gid)}));
    }
  };
  const std::string settings = dir_ + std::string(kSettingsFileName);
  attempt(settings, [&] { SaveSettings(settings, format); });
  table.ResetTaskResults();
  const std::string table_path = dir_ + kTableFileName;
  if (!table_failed_) attempt(table_path, [&] { SaveTableText(table, table_path, u','); });
  const std::string presets_path = dir_ + kPresetFileName;
  if (!presets_failed_) attempt(presets_path, [&] { SavePresets(presets, presets_path); });
  presets.ClearPresets();
  return failures;
}

}  // namespace veskor
