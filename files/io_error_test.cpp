// The I/O error table: errno values to codes, codes to messages.
#include "files/io_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace veskor {
namespace {

TEST(IoErrors, MessagesByCode) {
  EXPECT_EQ(IoErrorMessage(IoCodeFromErrno(ENOENT)), "File not found");
  EXPECT_EQ(IoErrorMessage(IoCodeFromErrno(ENOTDIR)), "Invalid filename");
  EXPECT_EQ(IoErrorMessage(IoCodeFromErrno(EMFILE)), "Too many open files");
  EXPECT_EQ(IoErrorMessage(IoCodeFromErrno(ELOOP)), "File access denied");
  EXPECT_EQ(IoErrorMessage(IoCodeFromErrno(EROFS)), "File access denied");
  EXPECT_EQ(IoErrorMessage(IoCodeFromErrno(ENOSPC)), "Disk full");
  EXPECT_EQ(IoErrorMessage(100), "Read beyond end of file");
  EXPECT_EQ(IoErrorMessage(106), "Invalid numeric input");
  EXPECT_STREQ(IoErrorFromErrno(EIO).what(), "I/O error 5");  // EIO is 5, yet no access error
  EXPECT_STREQ(IoErrorFromErrno(EACCES).what(), "File access denied");
  EXPECT_STREQ(IoErrorFromErrno(ENOSPC).what(), "Disk full");
  EXPECT_STREQ(IoErrorFromErrno(ENOENT).what(), "File not found");  // errno 2, code 2
  EXPECT_STREQ(IoErrorFromErrno(EINTR).what(), "I/O error 4");      // not "Too many open files"
}

}  // namespace
}  // namespace veskor
