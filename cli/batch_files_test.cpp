// The names a --files-from list holds.
#include "cli/batch_files.h"

#include <gtest/gtest.h>

namespace veskor {
namespace {

TEST(NameList, SplitsOnItsSeparator) {
  using Names = std::vector<std::string>;
  struct Case {
    std::string bytes;
    bool null_separated;
    Names names;
  };
  const Case cases[] = {
      {"a\nb c\n", false, {"a", "b c"}},
      {"a\n\nb", false, {"a", "b"}},  // an empty line names nothing; no final LF needed
      {"a\r\n", false, {"a\r"}},      // a CR is part of the name
      {std::string("a\nb\0c\0", 6), true, {"a\nb", "c"}},
      {std::string("\0\0x", 3), true, {"x"}},
      {"", false, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SplitNameList(c.bytes, c.null_separated), c.names) << c.bytes;
}

}  // namespace
}  // namespace veskor
