// The program's three files (presets.dat, grid.cfg, config.ini) as start-up reads them and
// shut-down writes them, shared by the window and the runner.
#pragma once

#include <string>
#include <vector>

#include "files/folder_lock.h"
#include "presets/preset_list.h"
#include "tasks/task_table.h"

namespace veskor {

// Start-up's notices about the program files, shown once.
inline constexpr const char* kPresetsKeptMessage =
    "The last %s bytes of presets.dat are not a whole preset: the file as it was is kept as %s.";
inline constexpr const char* kPresetsNotSavedMessage =
    "The last %s bytes of presets.dat are not a whole preset, and no copy of the file could be "
    "kept: presets.dat will not be saved.";
inline constexpr const char* kCannotLockMessage =
    "Veskor cannot lock the files in %s: this window will not save them.";
// presets.dat that cannot be read (a folder, no permission, held by another program): the error
// of the load, then what the window does about it.
inline constexpr const char* kPresetsUnreadableMessage =
    "%s. This window starts without presets and will not save presets.dat at exit, so the "
    "presets made in it will not be kept.";
// A save that could not give the file its group back (the process is no member of it).
inline constexpr const char* kGroupNotKeptMessage =
    "%s was saved with the group %s: its group %s could not be kept.";

// The folder of the program files for an executable in `exe_dir`: for an installed copy
// (IsInstalledCopy), and for any other whose folder holds none of the three files and cannot be
// written, $XDG_CONFIG_HOME/veskor/, else ~/.config/veskor/, made when missing if `create` is
// set; otherwise `exe_dir` itself (ending with "/"), even when a file there cannot be written
// (its save reports the failure). The window and the runner both choose by this, so that they
// read the same files.
std::string ProgramFilesDir(const std::string& exe_dir, bool create);

// An executable installed under PREFIX/bin, with PREFIX/share/veskor beside that folder.
bool IsInstalledCopy(const std::string& exe_dir);

class ProgramFiles {
 public:
  // The files of ProgramFilesDir(exe_dir). `read_only` (the runner) creates nothing there and
  // never writes.
  explicit ProgramFiles(const std::string& exe_dir, bool read_only = false);

  // Claims the folder for this object's life, so that no second window saves over this one's
  // files: takes the folder's lock, then removes the temporary files that a killed save of the
  // three files left (no other instance can be writing them now). kHeldElsewhere, with nothing
  // removed, when another instance holds the folder. Where no lock can be had (kUnavailable)
  // the files are read but never saved: a save would overwrite what another user's window,
  // unseen, keeps. Files read only (the runner, an installation without a user's folder) are
  // kUnavailable, without a lock file made.
  FolderLock::Outcome TakeFolder();

  // The folder of the three files, ending with "/".
  const std::string& dir() const { return dir_; }

  // Start-up, in this order. Each step raises its file's error; a file that failed to load is
  // remembered and is not overwritten at shut-down, so what could not be read is not lost.
  // The window's first start in the user's folder (an installed program) finds no presets.dat
  // there: it copies the installation's starter presets (StarterPresetsPath) in first; the
  // runner reads them where they are. Nothing is copied beside the executable, over any entry
  // of that name, or by the runner; a copy that fails leaves the folder without presets, as
  // before.
  // A presets.dat that does not hold whole presets is copied first, as it is, to
  // presets.dat.broken-DATE beside it, since the save at shut-down writes only the whole ones;
  // the returned notice says so (empty otherwise). Where no copy can be made the file is not
  // saved at all. A presets.dat that cannot be read (a folder, no permission) is not saved
  // either, which the window's notice says (kPresetsUnreadableMessage); the runner, which saves
  // nothing, gets the error.
  std::string LoadPresets(PresetList& presets);
  // The four default rows with the first preset's name, replaced by grid.cfg's rows when the
  // file exists (row 0 selected).
  void LoadTable(TaskTable& table, const PresetList& presets);
  // The saved format, or the default; never fails.
  std::string LoadFormat() const;

  // Shut-down: saves the format, clears the run results, saves the table and the presets, and
  // clears the presets. Every save is attempted even when an earlier one fails; the messages
  // of the failures are returned (empty when all went well), each naming its file, and so is a
  // save that could not keep its file's group (kGroupNotKeptMessage). Files that failed to
  // load, and all three in a folder whose lock could not be had, are left as they are.
  std::vector<std::string> SaveAll(const std::string& format, TaskTable& table,
                                   PresetList& presets);

  bool presets_failed() const { return presets_failed_; }
  bool table_failed() const { return table_failed_; }

 private:
  std::string dir_;
  std::string starter_;  // the presets.dat to seed the user's folder from; empty: none
  bool presets_failed_ = false;
  bool table_failed_ = false;
  bool read_only_;
  bool saves_ = true;
  FolderLock lock_;
};

// Where an installation keeps its starter presets: <exe_dir>/../share/veskor/presets.dat.
std::string StarterPresetsPath(const std::string& exe_dir);

// The folder of the running executable, ending with "/" (from /proc/self/exe).
std::string ExecutableDir();

}  // namespace veskor
