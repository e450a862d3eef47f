// Reading a file whole, and the existence test that tells a file from a folder.
#include "files/read_whole_file.h"

#include <gtest/gtest.h>

#include "files/file_exists.h"
#include "files/replace_file.h"
#include "files/scratch_folder.h"

namespace veskor {
namespace {

using ReadWholeFileTest = test::ScratchFolder;

TEST_F(ReadWholeFileTest, ReadingAndTheExistenceTest) {
  EXPECT_FALSE(FileExists(path_));
  EXPECT_FALSE(FileExists(dir_.string()));  // a directory is no file
  ReplaceFile(path_, "bytes");
  EXPECT_TRUE(FileExists(path_));
  EXPECT_EQ(ReadWholeFile(path_, true), "bytes");
  try {
    ReadWholeFile((dir_ / "missing").string(), false);
    FAIL() << "no error";
  } catch (const FileOperationError& e) {
    EXPECT_EQ(e.stage(), FileOperationError::Stage::kOpen);
    EXPECT_STREQ(e.what(), "No such file or directory");
  }
}

}  // namespace
}  // namespace veskor
