// The temporary files that killed saves leave: removed beside the file a save replaces, and
// nothing else.
#include "files/temporary_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "files/scratch_folder.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

using TemporaryFilesTest = test::ScratchFolder;

TEST_F(TemporaryFilesTest, StaleTemporariesOfAKilledSaveAreRemovedAndNothingElse) {
  struct Entry {
    std::string name;
    bool stale;
  };
  const Entry entries[] = {
      {".presets.dat.Ab3xZ9", true},   {".presets.dat.000000", true},
      {"presets.dat", false},          {".presets.dat.Ab3xZ", false},
      {".presets.dat.Ab3xZ99", false}, {".presets.dat.Ab3-Z9", false},
      {".presets.dat.XXXXX~", false},  {".grid.cfg.Ab3xZ9", false},
      {"presets.dat.Ab3xZ9", false},   {".presets.dat.Ab3xZ9.log", false},
  };
  for (const Entry& entry : entries) std::ofstream(dir_ / entry.name) << "x";
  fs::create_directory(dir_ / ".presets.dat.dirAAA");               // a folder: not ours
  fs::create_symlink("presets.dat", dir_ / ".presets.dat.lnkAAA");  // a link: not ours
  EXPECT_EQ(RemoveStaleTemporaries(path_), 2);
  for (const Entry& entry : entries) {
    EXPECT_EQ(fs::exists(dir_ / entry.name), !entry.stale) << entry.name;
  }
  EXPECT_TRUE(fs::is_directory(dir_ / ".presets.dat.dirAAA"));
  EXPECT_TRUE(fs::is_symlink(dir_ / ".presets.dat.lnkAAA"));
}

TEST_F(TemporaryFilesTest, TheStaleTemporariesOfALinkedFileLieBesideItsTarget) {
  fs::create_directory(dir_ / "elsewhere");
  fs::create_symlink("elsewhere/real.dat", path_);
  std::ofstream(dir_ / "elsewhere" / ".real.dat.Qw12er") << "x";
  std::ofstream(dir_ / ".presets.dat.Qw12er") << "x";  // no save of the link makes this one
  EXPECT_EQ(RemoveStaleTemporaries(path_), 1);
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere" / ".real.dat.Qw12er"));
  EXPECT_TRUE(fs::exists(dir_ / ".presets.dat.Qw12er"));
}

}  // namespace
}  // namespace veskor
