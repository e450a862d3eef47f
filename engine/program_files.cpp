// The program files' folder, the start-up loads and the shut-down saves.
#include "engine/program_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "files/replace_file.h"
#include "presets/preset_file.h"
#include "settings/settings_file.h"
#include "tasks/table_file.h"

namespace veskor {
namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return dir;
}

// The user's configuration folder for the program: $XDG_CONFIG_HOME/veskor/, else
// ~/.config/veskor/; created when missing.
std::string UserConfigDir() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = std::string(home) + "/.config";
  } else {
    return "";
  }
  const std::string dir = WithSlash(base) + "veskor/";
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  return dir;
}

}  // namespace

std::string ExecutableDir() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "./";
  return WithSlash(exe.parent_path().string());
}

ProgramFiles::ProgramFiles(const std::string& exe_dir, bool read_only) {
  dir_ = WithSlash(exe_dir);
  // A system-wide installation cannot keep the user's files beside the executable.
  if (!read_only && ::access(dir_.c_str(), W_OK) != 0) {
    const std::string user = UserConfigDir();
    if (!user.empty()) dir_ = user;
  }
}

void ProgramFiles::LoadPresets(PresetList& presets) {
  try {
    veskor::LoadPresets(presets, dir_ + kPresetFileName);
  } catch (...) {
    presets_failed_ = true;
    throw;
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
  auto attempt = [&](auto&& save) {
    try {
      save();
    } catch (const std::exception& e) {
      failures.emplace_back(e.what());
    }
  };
  attempt([&] { SaveSettings(dir_ + std::string(kSettingsFileName), format); });
  table.ResetTaskResults();
  if (!table_failed_) attempt([&] { SaveTableText(table, dir_ + kTableFileName, u','); });
  if (!presets_failed_) attempt([&] { SavePresets(presets, dir_ + kPresetFileName); });
  presets.ClearPresets();
  return failures;
}

}  // namespace veskor
