// grid.cfg: the bytes the writer produces, every rule of the reader, and failed saves and loads.
#include "tasks/table_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/io_error.h"
#include "files/write_fully.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

// UTF-16 with the little-endian mark FF FE.
std::string Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

// UTF-16 with the big-endian mark FE FF.
std::string Be(std::u16string_view text) {
  std::string bytes = "\xFE\xFF";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c >> 8));
    bytes.push_back(static_cast<char>(c & 0xFF));
  }
  return bytes;
}

// The eight text forms of each row, joined by '|', as UTF-8.
std::vector<std::string> TableRows(const TaskTable& table) {
  std::vector<std::string> rows;
  for (int row = 0; row < table.RowCount(); ++row) {
    std::string text;
    for (int column = 0; column < kTaskColumnCount; ++column) {
      if (column) text += '|';
      text += Utf16ToUtf8(table.CellText(column, row));
    }
    rows.push_back(text);
  }
  return rows;
}

// A row of new cells, as a line with fewer fields leaves the rest of its cells.
constexpr char kNewRow[] = "False|0||||0||0";

class TableFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veskor_grid_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "grid.cfg").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Loads the file into a table that held the default rows; returns the error's message or "".
  std::string Load(TaskTable& table, char16_t separator = u',') {
    table.AddDefaultTasks("");
    try {
      LoadTableText(table, path_, separator);
    } catch (const Error& e) {
      return e.what();
    }
    return "";
  }

  fs::path dir_;
  std::string path_;
};

const std::vector<std::string> kDefaultRows = {
    "True|-1|XOR8|||0|0|-1",
    "True|-1|ADD8|||0|0|-1",
    "False|-1|SUB8|||0|0|-1",
    "True|-1|NONE|||0|0|-1",
};

TEST_F(TableFileTest, DefaultRowsWithoutPresetsAre188Bytes) {
  TaskTable table;
  table.AddDefaultTasks("");
  const std::string expected =
      Le(u"True,-1,XOR8,,,0,0,-1\r\nTrue,-1,ADD8,,,0,0,-1\r\n"
         u"False,-1,SUB8,,,0,0,-1\r\nTrue,-1,NONE,,,0,0,-1\r\n");
  ASSERT_EQ(expected.size(), 188u);
  EXPECT_EQ(TableTextBytes(table, u','), expected);
  SaveTableText(table, path_, u',');
  EXPECT_EQ(Read(), expected);

  TaskTable loaded;
  EXPECT_EQ(Load(loaded), "");
  EXPECT_EQ(TableRows(loaded), kDefaultRows);
}

TEST_F(TableFileTest, EmptyTableIsTheMarkAlone) {
  TaskTable table;
  SaveTableText(table, path_, u',');
  EXPECT_EQ(Read(), "\xFF\xFE");
  TaskTable loaded;
  EXPECT_EQ(Load(loaded), "");
  EXPECT_EQ(loaded.RowCount(), 0);
}

TEST(QuoteField, DoublesQuotesAndEnclosesOnlyWhenNeeded) {
  struct Case {
    std::u16string text;
    char16_t separator;
    std::u16string field;
  } cases[] = {
      {u"", u',', u""},
      {u"Noname", u',', u"Noname"},
      {u"a,b", u',', u"\"a,b\""},
      {u"a,b", u';', u"a,b"},
      {u"a;b", u';', u"\"a;b\""},
      {u"\"", u',', u"\"\"\"\""},
      {u"a\"b", u';', u"\"a\"\"b\""},
      {u"\"\"", u',', u"\"\"\"\"\"\""},
      {u"a\r\nb", u',', u"a\r\nb"},
      {u"Ключ", u',', u"Ключ"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(QuoteField(c.text, c.separator)), Utf16ToUtf8(c.field))
        << Utf16ToUtf8(c.text);
  }
}

TEST_F(TableFileTest, KeysAndPresetsWithSeparatorsAndQuotesSurvive) {
  const std::vector<std::string> texts = {"a,b",  "\"",   "a\"b",        "\"a,b\"",      ",",
                                          "\"\"", ",\",", "x\"\"y\"\"z", "Пресет, \"1\""};
  TaskTable table;
  for (const std::string& text : texts) {
    table.AddTask("");
    const int row = table.RowCount() - 1;
    table.SetText(NxPresetColumn, row, Utf8ToUtf16(text));
    table.SetText(NxKeyColumn, row, Utf8ToUtf16(text + text));
  }
  SaveTableText(table, path_, u',');
  // The row of the name that is one quotation mark.
  EXPECT_NE(Read().find(Le(u"XOR8,\"\"\"\",\"\"\"\"\"\",0").substr(2)), std::string::npos);

  TaskTable loaded;
  EXPECT_EQ(Load(loaded), "");
  EXPECT_EQ(TableRows(loaded), TableRows(table));
}

TEST_F(TableFileTest, XorkRowsKeepTheirKeysOfManyBytes) {
  TaskTable table;
  for (const char* key : {"0x8C61D263", "8c:61:d2:63", ""}) {
    table.AddTask("");
    const int row = table.RowCount() - 1;
    table.SetText(NxAlgoColumn, row, u"XORK");
    table.SetText(NxKeyColumn, row, Utf8ToUtf16(key));
  }
  SaveTableText(table, path_, u',');
  EXPECT_NE(Read().find(Le(u"XORK,,8c:61:d2:63,").substr(2)), std::string::npos);
  TaskTable loaded;
  EXPECT_EQ(Load(loaded), "");
  EXPECT_EQ(TableRows(loaded), TableRows(table));
}

struct ReaderCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> rows;
  std::string error;  // empty when the load succeeds
  char16_t separator = u',';
};

TEST_F(TableFileTest, ReaderRules) {
  const ReaderCase cases[] = {
      {"mark alone", "\xFF\xFE", {}, ""},
      {"big-endian mark alone", "\xFE\xFF", {}, ""},
      {"empty file", "", {}, ""},
      {"one byte", "T", {}, ""},
      {"one mark byte", "\xFF", {}, ""},
      {"8-bit line", "False,-1,ADD8,Digits,12,0,0,-1\r\n", {"False|-1|ADD8|Digits|12|0|0|-1"}, ""},
      {"8-bit byte E9 is U+00E9",
       "True,-1,XOR8,caf\xE9,\xC0,0,0,-1",
       {"True|-1|XOR8|café|À|0|0|-1"},
       ""},
      {"EF BB BF is 8-bit text at the start of the first field",
       "\xEF\xBB\xBFTrue,-1,XOR8,\xEF\xBB\xBF,,0,0,-1\r\n",
       {"False|-1|XOR8|ï»¿||0|0|-1"},
       ""},
      {"UTF-16 beyond 8 bits",
       Le(u"True,-1,XOR8,Ключ,\u4e2d,0,0,-1\r\n"),
       {"True|-1|XOR8|Ключ|\u4e2d|0|0|-1"},
       ""},
      {"big-endian",
       Be(u"True,-1,SUB8,Ключ,7,0,0,-1\r\nFalse,3,NONE,,,50,9,2\r\n"),
       {"True|-1|SUB8|Ключ|7|0|0|-1", "False|3|NONE|||50|9|2"},
       ""},
      {"odd last byte ignored, little-endian", Le(u"True,1") + "2", {"True|1||||0||0"}, ""},
      {"odd last byte ignored, big-endian", Be(u"True,1") + "2", {"True|1||||0||0"}, ""},
      {"fewer than eight fields",
       Le(u"True,5,ADD8\r\nFalse\r\n"),
       {"True|5|ADD8|||0||0", kNewRow},
       ""},
      {"empty line",
       Le(u"True,-1,XOR8,,,0,0,-1\r\n\r\nTrue,-1,ADD8,,,0,0,-1\r\n"),
       {"True|-1|XOR8|||0|0|-1", kNewRow, "True|-1|ADD8|||0|0|-1"},
       ""},
      {"empty line alone", Le(u"\r\n"), {kNewRow}, ""},
      {"LF alone ends a line", Le(u"True,1\nTrue,2"), {"True|1||||0||0", "True|2||||0||0"}, ""},
      {"last line without CR LF",
       Le(u"True,-1,XOR8,,,0,0,-1\r\nFalse,2,NONE,P,7,40,3,2"),
       {"True|-1|XOR8|||0|0|-1", "False|2|NONE|P|7|40|3|2"},
       ""},
      // Stored, the empty progress field would fail; pending at the end it is dropped.
      {"last line ending in an empty field",
       Le(u"True,-1,XOR8,P,7,"),
       {"True|-1|XOR8|P|7|0||0"},
       ""},
      {"CR ignored anywhere",
       Le(u"Tr\rue,-\r1,\"X\rOR8\",,,0,0,-1\r\r\n"),
       {"True|-1|XOR8|||0|0|-1"},
       ""},
      {"quoted field",
       Le(u"True,-1,XOR8,\"a,b\",\"\",0,0,-1\r\n"),
       {"True|-1|XOR8|a,b||0|0|-1"},
       ""},
      {"doubled quotation mark",
       Le(u"True,-1,XOR8,\"a\"\"b\",,0,0,-1\r\n"),
       {"True|-1|XOR8|a\"b||0|0|-1"},
       ""},
      {"second doubled quotation mark",
       Le(u"True,-1,XOR8,\"x\"\"y\"\"z\",,0,0,-1\r\n"),
       {"True|-1|XOR8|x\"y\"z||0|0|-1"},
       ""},
      {"quotation mark inside an unquoted field",
       Le(u"True,-1,XOR8,a\"b,5,0,0,-1\r\nTrue,-1,ADD8,,,0,0,-1\r\n"),
       {"True|-1|XOR8|a\"b,5,0,0,-1||0||0", "True|-1|ADD8|||0|0|-1"},
       ""},
      {"LF inside quotation marks ends the field",
       Le(u"True,-1,XOR8,\"P\nQ\",5,0,0,-1\r\n"),
       {"True|-1|XOR8|P||0||0", kNewRow},
       ""},
      {"another separator",
       Le(u"True;-1;XOR8;a,b;\"c;d\";0;0;-1\r\n"),
       {"True|-1|XOR8|a,b|c;d|0|0|-1"},
       "",
       u';'},
      {"ninth field",
       Le(u"True,-1,XOR8,,,0,0,-1\r\nFalse,1,ADD8,P,K,2,3,4,extra,more\r\nTrue\r\n"),
       {"True|-1|XOR8|||0|0|-1", "False|1|ADD8|P|K|2|3|4"},
       "Cell out of bounds (8, 1)"},
      {"ninth field empty",
       Le(u"True,-1,XOR8,,,0,0,-1,\r\n"),
       {"True|-1|XOR8|||0|0|-1"},
       "Cell out of bounds (8, 0)"},
      {"column 1 not a whole number",
       Le(u"True,-1,XOR8,,,0,0,-1\r\nTrue,abc,ADD8,,,0,0,-1\r\n"),
       {"True|-1|XOR8|||0|0|-1", "True|0||||0||0"},
       "'abc' is not a valid integer value"},
      {"column 7 not a whole number",
       Le(u"True,2,NONE,P,K,9,0,1.5\r\n"),
       {"True|2|NONE|P|K|9|0|0"},
       "'1.5' is not a valid integer value"},
      {"column 5 empty",
       Le(u"True,-1,XOR8,P,K,,0,-1\r\n"),
       {"True|-1|XOR8|P|K|0||0"},
       "'' is not a valid floating point value"},
      {"column 5 not a number",
       Le(u"False,3,SUB8,P,K,ab,0,-1\r\n"),
       {"False|3|SUB8|P|K|0||0"},
       "'ab' is not a valid floating point value"},
      {"names are not checked",
       Le(u"yes,4,LOCAL,Missing,key,37.5,x,5\r\n"),
       {"False|4|LOCAL|Missing|key|37.5|x|5"},
       ""},
  };
  for (const ReaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.bytes);
    TaskTable table;
    EXPECT_EQ(Load(table, c.separator), c.error);
    EXPECT_EQ(TableRows(table), c.rows);
  }
}

// Counts the notices a load gives a view.
class NoticeCounter : public TaskTableObserver {
 public:
  void BeginReset() override { events.push_back("BeginReset"); }
  void EndReset() override { events.push_back("EndReset"); }
  void BeginInsertRow(int) override { events.push_back("Insert"); }
  void CellChanged(int, int) override { events.push_back("Cell"); }
  void SelectionChanged(int row) override { events.push_back("Select " + std::to_string(row)); }
  std::vector<std::string> events;
};

TEST_F(TableFileTest, LoadGivesOneResetAndSelectsNothing) {
  for (const auto& [bytes, rows] :
       {std::pair<std::string, int>{Le(u"True\r\nFalse\r\n"), 2}, {Le(u"True,x\r\n"), 1}}) {
    Write(bytes);
    TaskTable table;
    table.AddDefaultTasks("");
    table.SelectTask(2);
    NoticeCounter counter;
    table.SetObserver(&counter);
    try {
      LoadTableText(table, path_, u',');
    } catch (const ConversionError&) {
    }
    EXPECT_EQ(table.RowCount(), rows);
    EXPECT_EQ(table.SelectedRow(), 0);  // ClearTasks' index, no row selected by the load
    EXPECT_EQ(counter.events, (std::vector<std::string>{"BeginReset", "EndReset", "Select 0"}));
  }
}

TEST_F(TableFileTest, FailedSaveRaisesDiskFullAndKeepsTheEarlierFile) {
  TaskTable table;
  table.AddDefaultTasks("");
  SaveTableText(table, path_, u',');
  const std::string earlier = Read();
  table.AddTask("Later");
  for (size_t before : {size_t{0}, size_t{40}}) {
    test::FailNextWrite(ENOSPC, before);
    try {
      SaveTableText(table, path_, u',');
      ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
      EXPECT_STREQ(e.what(), "Disk full");
      EXPECT_EQ(e.code(), 101);
    }
    EXPECT_EQ(Read(), earlier);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);  // no temporary file left
}

TEST_F(TableFileTest, MissingPathsRaiseFileNotFound) {
  TaskTable table;
  EXPECT_EQ(Load(table), "File not found");
  EXPECT_EQ(table.RowCount(), 0);  // emptied before the open failed

  table.AddDefaultTasks("");
  try {
    SaveTableText(table, (dir_ / "no_such_folder" / "grid.cfg").string(), u',');
    ADD_FAILURE() << "no error";
  } catch (const IoError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
}

TEST(TableBytes, LoadTableBytesReadsWhatTableTextBytesWrote) {
  TaskTable table;
  table.AddDefaultTasks("Noname");
  table.SetText(NxKeyColumn, 1, u"a,\"b\"");
  TaskTable loaded;
  LoadTableBytes(loaded, TableTextBytes(table, u';'), u';');
  EXPECT_EQ(TableRows(loaded), TableRows(table));
}

}  // namespace
}  // namespace veskor
