// The operating system's error texts as messages.
#include "files/file_operation_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace veskor {
namespace {

TEST(SystemErrorText, DropsTrailingBlanksAndPeriods) {
  EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(SystemErrorText(EACCES), "Permission denied");
}

}  // namespace
}  // namespace veskor
