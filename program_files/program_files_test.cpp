// The program files as start-up reads and shut-down writes them: the first start, a session's
// round trip, failed loads kept, every save attempted, the folder's choice and its claim.
#include "program_files/program_files.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/ordinary_user.h"
#include "files/write_fully.h"
#include "presets/preset.h"
#include "settings/settings_file.h"
#include "tasks/table_file.h"
#include "text/cp1251.h"
#include "text/error.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

class ProgramFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (fs::temp_directory_path() / ("veskor_program_" + std::to_string(::getpid()))).string() +
           "/";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
  }

  std::string dir_;
  PresetList presets_;
  TaskTable table_;
};

TEST_F(ProgramFilesTest, FirstStartAndImmediateClose) {
  ProgramFiles files(dir_);
  EXPECT_EQ(files.dir(), dir_);
  files.LoadPresets(presets_);
  files.LoadTable(table_, presets_);
  EXPECT_EQ(presets_.Count(), 0);
  ASSERT_EQ(table_.RowCount(), 4);
  EXPECT_FALSE(table_.Checked(2));
  EXPECT_EQ(table_.SelectedRow(), 0);
  EXPECT_EQ(files.LoadFormat(), "%3d | %*d | %s");
  EXPECT_TRUE(files.SaveAll(files.LoadFormat(), table_, presets_).empty());
  EXPECT_EQ(Read("grid.cfg").size(), 188u);
  EXPECT_TRUE(fs::exists(dir_ + "presets.dat"));
  EXPECT_EQ(Read("presets.dat"), "");
  EXPECT_EQ(Read("config.ini"), "[Config]\r\nFormatStr=%3d | %*d | %s\r\n");
}

TEST_F(ProgramFilesTest, ASessionComesBackAsItWasWithoutRunResults) {
  {
    ProgramFiles files(dir_);
    presets_.AddPreset();
    table_.AddDefaultTasks("Noname");
    table_.SetText(NxKeyColumn, 1, u"$41");
    table_.SetWholeNumber(NxImageColumn, 0, 1);  // a run's result, to be reset
    table_.SetText(NxResultColumn, 0, u"12");
    EXPECT_TRUE(files.SaveAll("%s", table_, presets_).empty());
    EXPECT_EQ(presets_.Count(), 0);  // cleared at shut-down
  }
  ProgramFiles files(dir_);
  PresetList presets;
  TaskTable table;
  files.LoadPresets(presets);
  files.LoadTable(table, presets);
  ASSERT_EQ(presets.Count(), 1);
  EXPECT_EQ(ShortString(presets.At(0).Name), "Noname");
  ASSERT_EQ(table.RowCount(), 4);
  EXPECT_EQ(table.Text(NxKeyColumn, 1), u"$41");
  EXPECT_EQ(table.Text(NxPresetColumn, 0), u"Noname");
  EXPECT_EQ(table.WholeNumber(NxImageColumn, 0), -1);
  EXPECT_EQ(table.Text(NxResultColumn, 0), u"0");
  EXPECT_EQ(files.LoadFormat(), "%s");
}

TEST_F(ProgramFilesTest, ATwoByteTableFileGivesAnEmptyTable) {
  Write("grid.cfg", "\xFF\xFE");
  ProgramFiles files(dir_);
  files.LoadTable(table_, presets_);
  EXPECT_EQ(table_.RowCount(), 0);
}

TEST_F(ProgramFilesTest, FilesThatFailedToLoadAreNotOverwritten) {
  const std::string broken_table = "True,-1,XOR8,,,0,0,-1,ninth\r\n";
  Write("grid.cfg", broken_table);
  Write("presets.dat", std::string(770, 'p'));
  const int holder = ::open((dir_ + "presets.dat").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // another instance holds the presets
  ProgramFiles files(dir_);
  // The window is told at start what it will not save.
  EXPECT_EQ(files.LoadPresets(presets_),
            "Cannot open file \"" + dir_ +
                "presets.dat\". Resource temporarily unavailable. This window starts without "
                "presets and will not save presets.dat at exit, so the presets made in it will "
                "not be kept.");
  ::close(holder);
  EXPECT_THROW(files.LoadTable(table_, presets_), Error);
  EXPECT_TRUE(files.presets_failed());
  EXPECT_TRUE(files.table_failed());
  presets_.AddPreset();
  EXPECT_TRUE(files.SaveAll("%d", table_, presets_).empty());
  EXPECT_EQ(Read("grid.cfg"), broken_table);
  EXPECT_EQ(Read("presets.dat"), std::string(770, 'p'));
  EXPECT_EQ(Read("config.ini"), "[Config]\r\nFormatStr=%d\r\n");  // the format is still saved
}

TEST_F(ProgramFilesTest, EverySaveIsAttemptedAndEachFailureNamed) {
  fs::create_directory(dir_ + "config.ini");  // cannot be written, even by root
  fs::create_directory(dir_ + "presets.dat");
  ProgramFiles files(dir_);
  table_.AddDefaultTasks("");
  const std::vector<std::string> failures = files.SaveAll("%s", table_, presets_);
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0], "Unable to write to " + dir_ + "config.ini");
  EXPECT_NE(failures[1].find("presets.dat"), std::string::npos);
  EXPECT_EQ(Read("grid.cfg").size(), 188u);  // the table is saved all the same
}

// A write error whose message does not name its file ("Stream write error") is named at exit.
TEST_F(ProgramFilesTest, AFailedWriteIsNamedWithItsFile) {
  // A link into a folder that does not exist: its save fails before it writes.
  fs::create_symlink("missing/config.ini", dir_ + "config.ini");
  Write("grid.cfg", "True,-1,XOR8,,,0,0,-1,ninth\r\n");  // fails to load: not saved
  ProgramFiles files(dir_);
  files.LoadPresets(presets_);
  EXPECT_THROW(files.LoadTable(table_, presets_), Error);
  presets_.AddPreset();
  test::FailNextWrite(ENOSPC);
  EXPECT_EQ(files.SaveAll("%s", table_, presets_),
            (std::vector<std::string>{"Unable to write to " + dir_ + "config.ini",
                                      dir_ + "presets.dat: Stream write error"}));
}

// A presets.dat that cannot be read is said at the window's start, with what will happen at
// exit, and left as it is: the presets made meanwhile would replace whatever it holds.
TEST_F(ProgramFilesTest, APresetFileThatCannotBeReadIsNamedAndNotSaved) {
  fs::create_directory(dir_ + "presets.dat");
  ProgramFiles files(dir_);
  ASSERT_EQ(files.TakeFolder(), FolderLock::Outcome::kTaken);
  EXPECT_EQ(files.LoadPresets(presets_),
            "Cannot open file \"" + dir_ +
                "presets.dat\". Is a directory. This window starts without presets and will not "
                "save presets.dat at exit, so the presets made in it will not be kept.");
  EXPECT_TRUE(files.presets_failed());
  presets_.AddPreset();
  EXPECT_TRUE(files.SaveAll("%s", table_, presets_).empty());
  EXPECT_TRUE(fs::is_directory(dir_ + "presets.dat"));
  // A file no one but root may read: as an ordinary user, the same notice with its reason.
  fs::remove(dir_ + "presets.dat");
  Write("presets.dat", std::string(770, 'p'));
  fs::permissions(dir_ + "presets.dat", fs::perms::owner_write);
  fs::permissions(dir_, fs::perms::all);
  test::AsOrdinaryUser([&] {
    PresetList presets;
    ProgramFiles other(dir_);
    std::string notice;
    EXPECT_NO_THROW(notice = other.LoadPresets(presets));
    EXPECT_EQ(notice.rfind("Cannot open file \"" + dir_ + "presets.dat\". Permission denied. ", 0),
              0u)
        << notice;
    EXPECT_TRUE(other.presets_failed());
  });
}

// Root's save leaves the files of a folder shared by a group in that group, with their owner and
// mode, so that the group's next user can still save them; a user who is no member of a file's
// group saves it all the same, and is told that its group could not be kept.
TEST_F(ProgramFilesTest, SavesKeepTheOwnerAndGroupOfTheFilesTheyReplace) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give files to another group";
  constexpr gid_t kShared = 65534;  // the ordinary user's group
  const char* names[] = {"config.ini", "grid.cfg", "presets.dat"};
  ASSERT_EQ(::chown(dir_.c_str(), 0, kShared), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0775), 0);
  Write("config.ini", "[Config]\r\nFormatStr=%s\r\n");
  Write("grid.cfg", "");
  Write("presets.dat", "");
  for (const char* name : names) {
    ASSERT_EQ(::chown((dir_ + name).c_str(), 0, kShared), 0);
    ASSERT_EQ(::chmod((dir_ + name).c_str(), 0664), 0);
  }
  // A start, a preset added and the end; what the end said.
  const auto session = [&](const std::string& format) {
    PresetList presets;
    TaskTable table;
    ProgramFiles files(dir_);
    EXPECT_EQ(files.TakeFolder(), FolderLock::Outcome::kTaken);
    try {
      EXPECT_EQ(files.LoadPresets(presets), "");
      files.LoadTable(table, presets);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
    presets.AddPreset();
    return files.SaveAll(format, table, presets);
  };
  EXPECT_EQ(session("%d"), std::vector<std::string>{});
  for (const char* name : names) {
    struct stat info {};
    ASSERT_EQ(::stat((dir_ + name).c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u) << name;
    EXPECT_EQ(info.st_gid, kShared) << name;
    EXPECT_EQ(info.st_mode & 07777, 0664u) << name;
  }
  // The group's next user adds a preset of their own.
  test::AsOrdinaryUser([&] { EXPECT_EQ(session("%x"), std::vector<std::string>{}); });
  EXPECT_EQ(Read("presets.dat").size(), 2 * sizeof(TPreset));
  EXPECT_EQ(Read("config.ini"), "[Config]\r\nFormatStr=%x\r\n");
  // A file of root's group, which the ordinary user may write but is no member of.
  ASSERT_EQ(::chown((dir_ + "presets.dat").c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod((dir_ + "presets.dat").c_str(), 0666), 0);
  const std::string root_group = ::getgrgid(0)->gr_name;
  const std::string shared_group = ::getgrgid(kShared)->gr_name;
  test::AsOrdinaryUser([&] {
    EXPECT_EQ(
        session("%x"),
        (std::vector<std::string>{dir_ + "presets.dat was saved with the group " + shared_group +
                                  ": its group " + root_group + " could not be kept."}));
  });
  EXPECT_EQ(Read("presets.dat").size(), 3 * sizeof(TPreset));
}

TEST_F(ProgramFilesTest, ProgramFilesThatAreLinksStayLinksAndTheirTargetsAreSaved) {
  fs::create_directories(dir_ + "kept");
  for (const char* name : {"presets.dat", "grid.cfg", "config.ini"}) {
    fs::create_symlink(std::string("kept/") + name, dir_ + name);
  }
  Write("kept/config.ini", "[Config]\r\nFormatStr=%s\r\n");
  ProgramFiles files(dir_);
  ASSERT_EQ(files.TakeFolder(), FolderLock::Outcome::kTaken);
  files.LoadPresets(presets_);
  files.LoadTable(table_, presets_);
  EXPECT_EQ(files.LoadFormat(), "%s");
  presets_.AddPreset();
  EXPECT_TRUE(files.SaveAll("%d", table_, presets_).empty());
  for (const char* name : {"presets.dat", "grid.cfg", "config.ini"}) {
    EXPECT_TRUE(fs::is_symlink(dir_ + name)) << name;
  }
  EXPECT_EQ(Read("kept/config.ini"), "[Config]\r\nFormatStr=%d\r\n");
  EXPECT_EQ(Read("kept/presets.dat").size(), sizeof(TPreset));  // a dangling link's file
  EXPECT_EQ(Read("kept/grid.cfg").size(), 188u);
}

// The window and the runner choose the same folder: beside the executable when it holds any of
// the files or can be written, else the user's folder (which only the window makes).
TEST_F(ProgramFilesTest, AReadOnlyFolderThatHoldsTheFilesIsUsedByTheWindowAndTheRunnerAlike) {
  const std::string user = dir_ + "config/veskor/";
  const std::string exe = dir_ + "bin/";
  struct Case {
    const char* name;
    bool writable;
    const char* holds;  // a file (or "link": a dangling link as presets.dat) put there, if any
    bool beside;        // the files stay beside the executable
  };
  const Case cases[] = {
      {"writable, empty", true, nullptr, true},
      {"read-only, empty", false, nullptr, false},
      {"read-only, with grid.cfg", false, "grid.cfg", true},
      {"read-only, with config.ini", false, "config.ini", true},
      {"read-only, with a dangling link", false, "link", true},
  };
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string previous_xdg = saved_xdg ? saved_xdg : "";
  fs::create_directories(dir_ + "config");
  fs::permissions(dir_ + "config", fs::perms::all);  // the ordinary user makes veskor/ there
  ::setenv("XDG_CONFIG_HOME", (dir_ + "config").c_str(), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(exe);
    fs::remove_all(user);
    fs::create_directories(exe);
    if (c.holds && std::string(c.holds) == "link") {
      fs::create_symlink("missing.dat", exe + "presets.dat");
    } else if (c.holds) {
      Write("bin/" + std::string(c.holds), "");
    }
    // Readable by everyone; writable by everyone, or by no one but root.
    fs::permissions(exe, c.writable
                             ? fs::perms::all
                             : fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write |
                                                  fs::perms::others_write));
    test::AsOrdinaryUser([&] {
      const std::string expected = c.beside ? exe : user;
      ProgramFiles runner(exe, /*read_only=*/true);
      EXPECT_EQ(runner.dir(), expected);
      EXPECT_FALSE(fs::exists(user));  // the runner makes nothing
      ProgramFiles window(exe);
      EXPECT_EQ(window.dir(), expected);
      EXPECT_EQ(fs::is_directory(user), !c.beside);
    });
  }
  fs::permissions(exe, fs::perms::owner_all);
  ProgramFiles missing(dir_ + "missing/", /*read_only=*/true);
  EXPECT_EQ(missing.dir(), user);
  if (saved_xdg) {
    ::setenv("XDG_CONFIG_HOME", previous_xdg.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

// An installed window (PREFIX/bin beside PREFIX/share/veskor, whether or not PREFIX/bin can be
// written) starts in the user's folder with the installation's starter presets, unless that
// folder already has its own presets.dat, and writes nothing into PREFIX/bin; a program copied
// elsewhere keeps its files beside it.
TEST_F(ProgramFilesTest, TheUsersFolderIsSeededWithTheStarterPresetsOnlyWhenItHasNone) {
  const std::string user = dir_ + "config/veskor/";
  TPreset starter = NewPreset();
  SetShortString(starter.Name, "Starter");
  const std::string starter_bytes(reinterpret_cast<const char*>(&starter), sizeof starter);
  struct Case {
    const char* name;
    const char* folder;    // of the executable, beside share/
    bool writable;         // the executable's folder
    bool shipped;          // share/veskor/presets.dat exists
    const char* existing;  // the user's folder before: none, "folder" (no presets.dat), or with
                           // an "empty" presets.dat or a dangling "link" of that name
    bool read_only;        // the runner
    int presets;           // loaded
    bool beside;           // the files are kept beside the executable
  };
  const Case cases[] = {
      {"installed, first start", "bin", false, true, nullptr, false, 1, false},
      {"installed, empty presets of the user's", "bin", false, true, "empty", false, 0, false},
      {"installed, a dangling link of the user's", "bin", false, true, "link", false, 0, false},
      {"installed without starter presets", "bin", false, false, nullptr, false, 0, false},
      {"the runner reads the starter presets and seeds nothing", "bin", false, true, "folder", true,
       1, false},
      {"installed into a prefix the user can write", "bin", true, true, nullptr, false, 1, false},
      {"the runner of such an installation", "bin", true, true, nullptr, true, 1, false},
      {"a program copied beside a share folder", "tools", true, true, nullptr, false, 0, true},
  };
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string previous_xdg = saved_xdg ? saved_xdg : "";
  fs::create_directories(dir_ + "config");
  fs::permissions(dir_ + "config", fs::perms::all);
  ::setenv("XDG_CONFIG_HOME", (dir_ + "config").c_str(), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string exe = dir_ + c.folder + "/";
    fs::remove_all(exe);
    fs::remove_all(user);
    fs::remove_all(dir_ + "share");
    fs::create_directories(exe);
    fs::create_directories(dir_ + "share/veskor");
    if (c.shipped) Write("share/veskor/presets.dat", starter_bytes);
    if (c.existing) {
      fs::create_directories(user);
      fs::permissions(user, fs::perms::all);
      if (std::string(c.existing) == "link") {
        fs::create_symlink("elsewhere.dat", user + "presets.dat");
      } else if (std::string(c.existing) == "empty") {
        Write("config/veskor/presets.dat", "");
        fs::permissions(user + "presets.dat", fs::perms::all);
      }
      if (::geteuid() == 0) {  // the user's folder and files are the user's own
        for (const std::string& path : {user, user + "presets.dat"}) {
          static_cast<void>(::lchown(path.c_str(), 65534, 65534));
        }
      }
    }
    fs::permissions(exe, c.writable ? fs::perms::all
                                    : fs::perms::owner_read | fs::perms::owner_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
    test::AsOrdinaryUser([&] {
      ProgramFiles files(exe, c.read_only);
      EXPECT_EQ(files.dir(), c.beside ? exe : user);
      PresetList presets;
      files.LoadPresets(presets);
      EXPECT_EQ(presets.Count(), c.presets);
      if (c.presets > 0) {
        EXPECT_EQ(ShortString(presets.At(0).Name), "Starter");
      }
      if (c.presets > 0 && !c.read_only) {
        EXPECT_EQ(Read("config/veskor/presets.dat"), starter_bytes);
      }
      if (c.existing && std::string(c.existing) == "link") {
        EXPECT_TRUE(fs::is_symlink(user + "presets.dat"));
      }
      if ((!c.existing || std::string(c.existing) == "folder") && (c.presets == 0 || c.read_only)) {
        EXPECT_FALSE(fs::exists(files.dir() + "presets.dat"));
      }
      if (!c.read_only) {
        TaskTable table;
        files.LoadTable(table, presets);
        EXPECT_EQ(files.TakeFolder(), FolderLock::Outcome::kTaken);
        const auto failures = files.SaveAll("%s", table, presets);
        for (const auto& f : failures) ADD_FAILURE() << f;
      }
      if (!c.beside) {
        EXPECT_TRUE(fs::is_empty(exe));  // nothing written beside the executable
      }
    });
  }
  fs::permissions(dir_ + "bin", fs::perms::owner_all);
  if (saved_xdg) {
    ::setenv("XDG_CONFIG_HOME", previous_xdg.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

// An installation without a user's folder to keep its files in (neither HOME nor
// XDG_CONFIG_HOME) reads the starter presets where they are and writes nothing anywhere.
TEST_F(ProgramFilesTest, AnInstallationWithoutAUsersFolderWritesNothing) {
  TPreset starter = NewPreset();
  SetShortString(starter.Name, "Starter");
  fs::create_directories(dir_ + "bin");
  fs::create_directories(dir_ + "share/veskor");
  Write("share/veskor/presets.dat",
        std::string(reinterpret_cast<const char*>(&starter), sizeof starter));
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const char* saved_home = std::getenv("HOME");
  const std::string previous_xdg = saved_xdg ? saved_xdg : "";
  const std::string previous_home = saved_home ? saved_home : "";
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("HOME");
  {
    ProgramFiles files(dir_ + "bin");
    EXPECT_EQ(files.TakeFolder(), FolderLock::Outcome::kUnavailable);
    files.LoadPresets(presets_);
    files.LoadTable(table_, presets_);
    ASSERT_EQ(presets_.Count(), 1);
    EXPECT_EQ(ShortString(presets_.At(0).Name), "Starter");
    EXPECT_TRUE(files.SaveAll("%s", table_, presets_).empty());
  }
  if (saved_xdg) ::setenv("XDG_CONFIG_HOME", previous_xdg.c_str(), 1);
  if (saved_home) ::setenv("HOME", previous_home.c_str(), 1);
  EXPECT_TRUE(fs::is_empty(dir_ + "bin"));
}

// A read-only folder with a lock file is claimed and every save reports its failure; without
// one no lock can be shared with the folder's other users, and nothing is saved.
TEST_F(ProgramFilesTest, AReadOnlyFolderKeepsItsFiles) {
  const std::string table = "True,-1,NONE,Digits,0,0,0,-1\r\n";
  Write("grid.cfg", table);
  for (const bool lock_file : {true, false}) {
    SCOPED_TRACE(lock_file ? "with a lock file" : "without a lock file");
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove(dir_ + kFolderLockFileName);
    if (lock_file) FolderLock().TryTake(dir_);
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
    test::AsOrdinaryUser([&] {
      ProgramFiles files(dir_);
      ASSERT_EQ(files.dir(), dir_);
      EXPECT_EQ(files.TakeFolder(),
                lock_file ? FolderLock::Outcome::kTaken : FolderLock::Outcome::kUnavailable);
      files.LoadPresets(presets_);
      files.LoadTable(table_, presets_);
      EXPECT_EQ(Utf16ToUtf8(TableLine(table_, 0, u',')), "True,-1,NONE,Digits,0,0,0,-1");
      const std::vector<std::string> failures = files.SaveAll("%s", table_, presets_);
      ASSERT_EQ(failures.size(), lock_file ? 3u : 0u);
      if (!lock_file) return;
      EXPECT_EQ(failures[0], "Unable to write to " + dir_ + "config.ini");
      EXPECT_EQ(failures[1], dir_ + "grid.cfg: File access denied");  // the file is named
      EXPECT_NE(failures[2].find("presets.dat"), std::string::npos) << failures[2];
    });
    EXPECT_EQ(Read("grid.cfg"), table);
  }
}

// presets.dat cut inside a record loads its whole records; the file as it was is kept beside it
// before shut-down saves the whole ones. The runner names a folder at its name as the reason.
TEST_F(ProgramFilesTest, APresetFileWithABrokenTailIsKeptBeforeTheSave) {
  TPreset preset = NewPreset();
  SetShortString(preset.Name, "Kept");
  const std::string record(reinterpret_cast<const char*>(&preset), sizeof preset);
  for (const size_t records : {0, 12}) {
    SCOPED_TRACE(records);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::string bytes;
    for (size_t i = 0; i < records; ++i) bytes += record;
    bytes += std::string(records == 0 ? 100 : 500, 'x');
    Write("presets.dat", bytes);
    ProgramFiles files(dir_);
    ASSERT_EQ(files.TakeFolder(), FolderLock::Outcome::kTaken);
    const std::string notice = files.LoadPresets(presets_);
    EXPECT_EQ(presets_.Count(), static_cast<int>(records));
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("presets.dat.broken-", 0) == 0) kept.push_back(name);
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(Read(kept[0]), bytes);
    EXPECT_NE(notice.find(kept[0]), std::string::npos) << notice;
    EXPECT_TRUE(files.SaveAll("%s", table_, presets_).empty());
    EXPECT_EQ(Read("presets.dat").size(), records * sizeof(TPreset));
    EXPECT_EQ(Read(kept[0]), bytes);
  }
  fs::remove_all(dir_ + "presets.dat");
  fs::create_directory(dir_ + "presets.dat");
  ProgramFiles files(dir_, /*read_only=*/true);
  try {
    files.LoadPresets(presets_);
    ADD_FAILURE() << "a folder loaded as presets";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + dir_ + "presets.dat\". Is a directory");
  }
}

// A second instance in the folder is refused and leaves alone what the first may be writing;
// the first removes what a killed save left.
TEST_F(ProgramFilesTest, StaleTemporariesAreRemovedOnlyByTheInstanceThatTakesTheFolder) {
  const char* stale[] = {".config.ini.a1B2c3", ".grid.cfg.ZZZZZZ", ".presets.dat.000aaa"};
  Write(".grid.cfg.keep", "not ours");
  {
    ProgramFiles holder(dir_);
    ASSERT_EQ(holder.TakeFolder(), FolderLock::Outcome::kTaken);
    // The holder's saves in progress.
    for (const char* name : stale) Write(name, std::string(100, 's'));
    ProgramFiles second(dir_);
    EXPECT_EQ(second.TakeFolder(), FolderLock::Outcome::kHeldElsewhere);
    for (const char* name : stale) EXPECT_TRUE(fs::exists(dir_ + name)) << name;
  }
  // The holder was killed in the middle of its saves; the next start cleans up.
  ProgramFiles files(dir_);
  EXPECT_EQ(files.TakeFolder(), FolderLock::Outcome::kTaken);
  for (const char* name : stale) EXPECT_FALSE(fs::exists(dir_ + name)) << name;
  EXPECT_TRUE(fs::exists(dir_ + ".grid.cfg.keep"));
  EXPECT_TRUE(fs::exists(dir_ + ".veskor.lock"));
}

}  // namespace
}  // namespace veskor
