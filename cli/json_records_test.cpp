// The file name of a record: UTF-8 as given, or Windows-1251 bytes read as text and kept in hex.
#include "cli/json_records.h"

#include <gtest/gtest.h>

namespace veskor {
namespace {

TEST(FileRecord, NameAndLayout) {
  FileOutcome outcome;
  outcome.size = 12;
  outcome.sha256 = "ab";
  outcome.status = "skipped";
  outcome.message = "\xD0\xB0\"";
  outcome.reason = "No such file or directory";
  outcome.options = "XOR8 key all";
  outcome.seconds = 0.12345;
  struct Case {
    std::string name;
    std::string fields;  // the record's text up to "size"
  };
  const Case cases[] = {
      {"d/\xD0\xB0.bin", R"({"type":"file","file":"d/)"
                         "\xD0\xB0"
                         R"(.bin",)"},
      // 0xE0 alone is no UTF-8: the same letter in Windows-1251.
      {"d/\xE0.bin", R"({"type":"file","file":"d/)"
                     "\xD0\xB0"
                     R"(.bin","file_hex":"642fe02e62696e",)"},
      {"a\nb", R"({"type":"file","file":"a\nb",)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileRecord(c.name, outcome),
              c.fields + R"("size":12,"sha256":"ab","status":"skipped","message":")"
                         "\xD0\xB0"
                         R"(\"","reason":"No such file or directory","options":"XOR8 key all",)"
                         R"("seconds":0.123})"
                         "\n")
        << c.name;
  }
}

}  // namespace
}  // namespace veskor
