// The file name of a record: UTF-8 as given, or Windows-1251 bytes read as text and kept in hex.
#include "cli/json_records.h"

#include <gtest/gtest.h>

#include "engine/decoding/algorithms.h"

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

// An embedded file's record: cli.md's fields in order; a key of a row is a number as in key
// records, a key of many bytes its hex text; a folder that is no UTF-8 is kept in hex as a name is.
TEST(EmbeddedRecord, Layout) {
  const struct {
    CarvePair pair;
    std::string path;
    std::string fields;  // from "key" to "truncated"
  } cases[] = {
      {{"XOR8ROL", 0x35A, {}}, "d/x.exe", R"("key":858,"sha256":"cd","path":"d/x.exe",)"},
      {{"XORK", 0, {0x8c, 0x61}},
       "\xE0/x.exe",
       R"("key":"0x8c61","sha256":"cd","path":")"
       "\xD0\xB0"
       R"(/x.exe","path_hex":"e02f782e657865",)"},
  };
  for (const auto& c : cases) {
    FoundExecutable found;
    found.offset = 4096;
    found.size = 70;
    found.truncated = true;
    found.pair = c.pair;
    EXPECT_EQ(EmbeddedRecord("f", found, {c.path, "cd"}),
              R"({"type":"embedded","file":"f","format":"PE","offset":4096,"size":70,"algo":")" +
                  c.pair.algorithm + "\"," + c.fields + R"("truncated":true})" + "\n");
  }
}

// A key that carries a bound has no score but the bound, after every scored key; the best string
// of a key without evidence is the one that ranks it.
TEST(KeyRecords, BoundedKeysAndTheStringThatRanks) {
  FillAlgorithms();
  RowOutcome outcome;
  auto summary = std::make_shared<RowSummary>();
  summary->Add(5, 40, 9, "weak word", 20.f);
  summary->Add(5, 90, 30, std::string(30, 'l'), 1.f);
  summary->Add(6, 0, 7, "bounded", 1.f);
  (*summary)[6].SetBound(3);
  outcome.summary = summary;
  auto search = std::make_shared<RunSearch>();
  FindAlgorithm("XOR8", search->algorithm);
  outcome.search = search;
  EXPECT_EQ(KeyRecords("f", {outcome}, 0),
            R"({"type":"key","file":"f","algo":"XOR8","key":5,"score":0.0,"lines":2,"chars":39,)"
            R"("longest":30,"best":"weak word","best_offset":40})"
            "\n"
            R"({"type":"key","file":"f","algo":"XOR8","key":6,"score":null,"score_below":3.01,)"
            R"("lines":1,"chars":7,"longest":7,"best":"bounded","best_offset":0})"
            "\n");
}

}  // namespace
}  // namespace veskor
