// The names a --files-from list holds, read as a stream with a bound on each.
#include "cli/batch_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>

namespace veskor {
namespace {

TEST(NameList, SplitsOnItsSeparatorAndRefusesALineNoPathCanBe) {
  using Names = std::vector<std::string>;
  const std::string longest(PATH_MAX, 'x');
  struct Case {
    std::string bytes;
    bool null_separated;
    NameList result;
    Names names;
  };
  const Case cases[] = {
      {"a\nb c\n", false, NameList::kRead, {"a", "b c"}},
      {"a\n\nb", false, NameList::kRead, {"a", "b"}},  // an empty line names nothing
      {"a\r\n", false, NameList::kRead, {"a\r"}},      // a CR is part of the name
      {std::string("a\nb\0c\0", 6), true, NameList::kRead, {"a\nb", "c"}},
      {std::string("\0\0x", 3), true, NameList::kRead, {"x"}},
      {"", false, NameList::kRead, {}},
      {"a\n" + longest + "\n", false, NameList::kRead, {"a", longest}},
      {"a\n" + longest + "y\nb\n", false, NameList::kTooLong, {"a"}},
      {longest + "y", false, NameList::kTooLong, {}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.bytes);
    Names names;
    EXPECT_EQ(ReadNameList(in, c.null_separated, names), c.result) << c.bytes.size();
    EXPECT_EQ(names, c.names) << c.bytes.size();
  }
  // An endless line is refused at its bound, not read into memory.
  std::ifstream zero("/dev/zero", std::ios::binary);
  Names names;
  EXPECT_EQ(ReadNameList(zero, false, names), NameList::kTooLong);
}

}  // namespace
}  // namespace veskor
