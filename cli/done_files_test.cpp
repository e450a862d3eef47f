// Which files an earlier batch's output counts as done.
#include "cli/done_files.h"

#include <gtest/gtest.h>

#include <set>

namespace veskor {
namespace {

TEST(DoneHashes, TakesDoneFileRecordsOnly) {
  using Hashes = std::set<std::string>;
  const std::string a = R"({"type":"file","file":"a","size":1,"sha256":"aa","status":"done"})";
  struct Case {
    std::string bytes;
    Hashes hashes;
  };
  const Case cases[] = {
      {a + "\n", {"aa"}},
      {a, {"aa"}},  // no final LF
      // The interrupted run's last line, cut short.
      {a + "\n" + a.substr(0, a.size() - 1), {"aa"}},
      {R"({"type":"file","sha256":"bb","status":"error","message":"done"})", {}},
      {R"({"type":"file","sha256":"bb","status":"skipped","message":"done before"})", {}},
      {R"({"type":"string","file":"x","text":"done","status":"done","sha256":"cc"})", {}},
      {R"({"type":"file","sha256":"","status":"done"})", {}},
      {R"({"type":"file","sha256":7,"status":"done"})", {}},
      {R"(["type","file","status","done"])", {}},
      {"not a record \"done\"\r\n" + a + "\r\n\n", {"aa"}},  // CR before LF is white space
      {"", {}},
  };
  for (const Case& c : cases) {
    const auto done = DoneHashes(c.bytes);
    EXPECT_EQ(Hashes(done.begin(), done.end()), c.hashes) << c.bytes;
  }
}

}  // namespace
}  // namespace veskor
