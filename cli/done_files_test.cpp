// Which files an earlier batch's output counts as done under the run's options.
#include "cli/done_files.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace veskor {
namespace {

TEST(DoneHashes, TakesDoneFileRecordsOfTheSameOptionsOnly) {
  using Hashes = std::set<std::string>;
  const std::string a =
      R"({"type":"file","file":"a","size":1,"sha256":"aa","status":"done","options":"o"})";
  // A string record longer than any file record: passed over whole, the line after it read.
  const std::string long_string = R"({"type":"string","text":")" +
                                  std::string(kMaxFileRecordBytes, 'd') + R"(","status":"done"})";
  struct Case {
    std::string bytes;
    Hashes hashes;
  };
  const Case cases[] = {
      {a + "\n", {"aa"}},
      {a, {"aa"}},  // no final LF
      // The interrupted run's last line, cut short.
      {a + "\n" + a.substr(0, a.size() - 1), {"aa"}},
      {R"({"type":"file","sha256":"bb","status":"error","message":"done","options":"o"})", {}},
      {R"({"type":"file","sha256":"bb","status":"skipped","message":"done before","options":"o"})",
       {}},
      {R"({"type":"string","file":"x","text":"done","status":"done","sha256":"cc","options":"o"})",
       {}},
      {R"({"type":"file","sha256":"","status":"done","options":"o"})", {}},
      {R"({"type":"file","sha256":7,"status":"done","options":"o"})", {}},
      {R"(["type","file","status","done"])", {}},
      {"not a record \"done\"\r\n" + a + "\r\n\n", {"aa"}},  // CR before LF is white space
      {"", {}},
      // Done under other options, or by a run that named none: scanned again.
      {R"({"type":"file","sha256":"dd","status":"done","options":"o2"})", {}},
      {R"({"type":"file","sha256":"dd","status":"done"})", {}},
      {R"({"type":"file","sha256":"dd","status":"done","options":null})", {}},
      {long_string + "\n" + a + "\n", {"aa"}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.bytes);
    const auto done = DoneHashes(in, "o");
    EXPECT_EQ(Hashes(done.begin(), done.end()), c.hashes) << c.bytes.substr(0, 100);
  }
}

}  // namespace
}  // namespace veskor
