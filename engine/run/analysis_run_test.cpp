// The run on real temporary files: log names and contents, cells, messages, errors, stop.
#include "engine/run/analysis_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "engine/decoding/algorithms.h"
#include "engine/regexp/regexp_error.h"
#include "engine/run/grid_run.h"
#include "engine/search/scan_context.h"
#include "engine/search/spilled_text.h"
#include "engine/search/test_shrink.h"
#include "files/io_error.h"
#include "files/ordinary_user.h"
#include "files/write_fully.h"
#include "presets/preset.h"
#include "text/cp1251.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class TestHost : public RunHost {
 public:
  std::vector<std::string> messages;
  std::vector<bool> controls;
  std::vector<RowOutcome> outcomes;
  std::function<void(std::string_view)> on_line;
  std::function<void()> on_message;

  void Message(const RequestRow&, const std::string& text) override {
    messages.push_back(text);
    if (on_message) on_message();
  }
  void SetRunControls(bool enabled) override { controls.push_back(enabled); }
  void RowFinished(const RequestRow&, const RowOutcome& outcome) override {
    outcomes.push_back(outcome);
  }
  std::unique_ptr<LogSink> OpenLog(const RequestRow& row, const std::string& path) override {
    if (!on_line) return RunHost::OpenLog(row, path);
    // A log that lets a test act when a line is written.
    class Spy : public LogSink {
     public:
      Spy(const std::string& path, TestHost& host) : file_(path), host_(host) {}
      void Write(std::string_view bytes) override {
        file_.Write(bytes);
        host_.on_line(bytes);
      }
      void Close() override { file_.Close(); }

     private:
      LogFile file_;
      TestHost& host_;
    };
    return std::make_unique<Spy>(path, *this);
  }
};

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillAlgorithms();
    dir_ = fs::temp_directory_path() /
           ("veskor_run_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    input_ = (dir_ / "dump.bin").string();
    TPreset digits = NewPreset();
    SetShortString(digits.Name, "Digits");
    presets_.Append(digits);
  }
  void TearDown() override {
    StopRequested = false;
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  void AddRow(std::string algorithm, std::string key, std::string preset = "Digits",
              bool use = true) {
    table_.AddTaskRow(use, -1, algorithm, preset, key, 0, "0", -1);
  }
  // A run over the table's checked rows, as the window starts one.
  void Run() {
    AnalysisRequest request;
    request.rows = CheckedRows(table_, presets_);
    request.input = input_;
    request.format = format_;
    request.workers = workers_;
    RunAnalysis(table_, request, host_);
  }
  std::string Result(int row) { return Utf16ToUtf8(table_.Text(NxResultColumn, row)); }
  // "Printable": the characters 32 to 126, min 7.
  void AddPrintablePreset() {
    TPreset printable = NewPreset();
    SetShortString(printable.Name, "Printable");
    std::string alphabet;
    for (int c = 32; c < 127; ++c) alphabet.push_back(static_cast<char>(c));
    SetShortString(printable.Alphabet, alphabet);
    printable.MinLength = 7;
    presets_.Append(printable);
  }
  int Image(int row) { return table_.WholeNumber(NxImageColumn, row); }
  int Link(int row) { return table_.WholeNumber(NxGotoColumn, row); }
  double Progress(int row) { return table_.Progress(row); }

  fs::path dir_;
  std::string input_;
  std::string format_ = "%3d | %*d | %s";
  int workers_ = 0;  // 0: every core
  TestHost host_;
  TaskTable table_;
  PresetList presets_;
};

TEST_F(RunTest, WorkedExampleWritesOneLine) {
  WriteFile(input_, "ab1234567cd89");
  AddRow("NONE", "0");
  Run();
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "  0 |  2 | 1234567\r\n");
  EXPECT_EQ(Image(0), 1);
  EXPECT_EQ(Result(0), "1");
  EXPECT_EQ(Link(0), 2);
  EXPECT_EQ(Progress(0), 100);
  EXPECT_EQ(table_.LogPath(0), input_ + "_NONE.log");
  EXPECT_EQ(host_.controls, (std::vector<bool>{false, true}));
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(RunTest, AllKeysWritesEveryKeyInOrderAndNeverKeyZero) {
  WriteFile(input_, "x1234567x");
  AddRow("NONE", "");
  Run();
  const std::string log = ReadFile(input_ + "_NONE.log");
  std::string expected;
  for (int k = 1; k <= 255; ++k) {
    char line[64];
    std::snprintf(line, sizeof line, "%3d | 1 | 1234567\r\n", k);
    expected += line;
  }
  EXPECT_EQ(log, expected);
  EXPECT_EQ(Result(0), "255");
  EXPECT_EQ(Progress(0), 100);
}

TEST_F(RunTest, KeyTextsAndTheirKeys) {
  // "HI" is stored XORed with 0xFF; each key text below must decode it.
  WriteFile(input_, std::string{char('H' ^ 0xFF), char('I' ^ 0xFF)});
  TPreset letters = NewPreset();
  SetShortString(letters.Name, "Letters");
  SetShortString(letters.Alphabet, "HI");
  letters.MinLength = 2;
  presets_.Append(letters);
  for (const char* key : {"-1", "255", "$FF", "  0xff", "+255", "-$1"}) {
    table_.ClearTasks();
    AddRow("XOR8", key, "Letters");
    Run();
    EXPECT_EQ(Result(0), "1") << key;
    EXPECT_EQ(ReadFile(input_ + "_XOR8.log"), "255 | 0 | HI\r\n") << key;
  }
}

TEST_F(RunTest, InvalidKeyEndsTheRunAfterTheInputIsMapped) {
  WriteFile(input_, "1234567");
  WriteFile(input_ + "_XOR8.log", "earlier\r\n");
  AddRow("XOR8", "65 ");
  AddRow("NONE", "0");
  try {
    Run();
    FAIL() << "no error";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'65 ' is not a valid integer value");
  }
  // The row's earlier log stays whole, and its temporary file is gone.
  EXPECT_EQ(ReadFile(input_ + "_XOR8.log"), "earlier\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  EXPECT_FALSE(fs::exists(input_ + "_NONE.log"));  // no further row is visited
  EXPECT_EQ(Result(0), "?");
  EXPECT_EQ(Image(0), kStatusNotRun);  // not the running arrow, which would say it still runs
  EXPECT_EQ(table_.Reason(0), "'65 ' is not a valid integer value");
  EXPECT_EQ(Image(1), kStatusNone);
  EXPECT_EQ(host_.controls, (std::vector<bool>{false, true}));  // back to idle
}

TEST_F(RunTest, AnAnyRowRanksPairsOfEveryAlgorithmAndLogsTheBestPairsLines) {
  // A URL stored under XOR8ROL 0x35A (rol(b ^ 0x5A, 3)) in padding that reads as "AAA..." under
  // XOR8 0x80 and ADD8 0x80 (0xC1), then under a rotation by 3 alone (0x28).
  const std::string url = "http://update.example.org/gate.php?id=4711";
  std::string data = std::string(1500, '\xC1') + std::string(1500, '\x28');
  for (size_t i = 0; i < url.size(); ++i) {
    const auto d = static_cast<uint8_t>(url[i]);
    data[1000 + i] = static_cast<char>(((d >> 3) | (d << 5)) ^ 0x5A);
  }
  WriteFile(input_, data);
  AddPrintablePreset();
  AddRow("XOR8ROL", "0x35A", "Printable");
  AddRow("ANY", "", "Printable");
  Run();
  ASSERT_EQ(host_.outcomes.size(), 2u);
  const RowOutcome& any = host_.outcomes[1];
  ASSERT_TRUE(any.summary && any.search && any.search->any);
  const std::vector<int> ranking = any.summary->Ranking();
  ASSERT_FALSE(ranking.empty());
  EXPECT_EQ(ranking.front(), RowSummary::PairId(8, 0x35A));
  EXPECT_EQ(PairSearch(*any.search, ranking.front()).algorithm.Name, "XOR8ROL");
  EXPECT_EQ(ReadFile(input_ + "_ANY.log"), ReadFile(input_ + "_XOR8ROL.log"));
  EXPECT_NE(ReadFile(input_ + "_ANY.log").find(url), std::string::npos);
  // Pairs that decode alike are named once, by the first algorithm of the table: SUB8 k is
  // ADD8 256 - k, ADD8 0x80 is XOR8 0x80, a rotation alone is XOR8ROL's.
  for (int key = 1; key < 256; ++key) {
    EXPECT_EQ((*any.summary)[RowSummary::PairId(2, key)].Count(), 0u) << key;
  }
  EXPECT_EQ((*any.summary)[RowSummary::PairId(1, 0x80)].Count(), 0u);
  EXPECT_GT((*any.summary)[RowSummary::PairId(0, 0x80)].Count(), 0u);
  EXPECT_GT((*any.summary)[RowSummary::PairId(8, 0x300)].Count(), 0u);
  EXPECT_EQ((*any.summary)[RowSummary::PairId(9, 0x300)].Count(), 0u);
  EXPECT_EQ((*any.summary)[RowSummary::PairId(10, 0x300)].Count(), 0u);
  // The file's own bytes are no cipher's: NONE is not tried.
  EXPECT_EQ((*any.summary)[RowSummary::PairId(3, 1)].Count(), 0u);
  EXPECT_EQ(Progress(1), 100);

  table_.ClearTasks();
  AddRow("ANY", "7", "Printable");
  try {
    Run();
    FAIL() << "no error";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'7': ANY tries every key of every algorithm; leave the key empty");
  }
}

TEST_F(RunTest, ARunningKeyDoesNotRankItsOwnCounterReadInATableOfSmallNumbers) {
  // Small 16-bit numbers read under a running key spell its counter: ";99;75573311//-/++)+'".
  std::mt19937 rng(3);
  std::string data;
  while (data.size() < 4000) data += {static_cast<char>(rng() % 6), '\0'};
  const std::string url = "http://update.example.org/gate.php?id=4711";
  for (size_t i = 0; i < url.size(); ++i) {
    const size_t at = 2001 + i;
    data[at] = static_cast<char>(url[i] ^ static_cast<uint8_t>(51 - at));
  }
  WriteFile(input_, data);
  AddPrintablePreset();
  AddRow("XOR8DEC", "", "Printable");
  Run();
  ASSERT_EQ(host_.outcomes.size(), 1u);
  const std::vector<int> ranking = host_.outcomes[0].summary->Ranking();
  ASSERT_GE(ranking.size(), 2u);
  EXPECT_EQ(ranking[0], 51);
  // Only a few strings where the table meets the hidden text still read as a little text.
  const RowSummary& keys = *host_.outcomes[0].summary;
  int with_evidence = 0;
  for (int key : ranking) with_evidence += keys[key].Score() > 0;
  EXPECT_LE(with_evidence, 3) << ranking[1] << " " << keys[ranking[1]].BestText();
}

// An input that cannot be read leaves the logs of an earlier run as they were and makes none
// (the row has no log to open); a file of 0 bytes, which is opened but has nothing to map,
// still gets its empty log.
TEST_F(RunTest, InputThatCannotBeOpenedOrMapped) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* message;
    int error_number;
    bool log;
  } cases[] = {
      {"missing", [](const std::string&) {}, kCannotOpenMessage, ENOENT, false},
      {"zero bytes", [](const std::string& p) { WriteFile(p, ""); }, kCannotMapMessage, 0, true},
      {"a directory", [](const std::string& p) { fs::create_directory(p); }, kCannotOpenMessage,
       EISDIR, false},
      {"a FIFO", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }, kCannotOpenMessage, 0,
       false},
      {"a device", [](const std::string& p) { fs::create_symlink("/dev/zero", p); },
       kCannotOpenMessage, 0, false},
      {"a loop of links", [](const std::string& p) { fs::create_symlink(p, p); },
       kCannotOpenMessage, ELOOP, false},
  };
  const std::string earlier = "  7 |  2 | 1234567\r\n";
  for (const auto& c : cases) {
    fs::remove_all(input_);
    c.make(input_);
    WriteFile(input_ + "_XOR8.log", earlier);
    fs::remove(input_ + "_ADD8.log");
    table_.ClearTasks();
    host_.messages.clear();
    host_.outcomes.clear();
    AddRow("XOR8", "");
    AddRow("NONE", "", "Digits", false);
    AddRow("ADD8", "1");
    Run();
    EXPECT_EQ(host_.messages, (std::vector<std::string>{c.message, c.message})) << c.name;
    for (int row : {0, 2}) {
      EXPECT_EQ(Image(row), kStatusNotRun) << c.name;
      EXPECT_EQ(table_.Reason(row), c.message) << c.name;
      EXPECT_EQ(Result(row), "?") << c.name;
      EXPECT_EQ(Progress(row), 0) << c.name;
      EXPECT_EQ(Link(row), -1) << c.name;
      EXPECT_EQ(table_.LogPath(row).empty(), !c.log) << c.name;
    }
    ASSERT_EQ(host_.outcomes.size(), 2u) << c.name;
    EXPECT_EQ(host_.outcomes[0].error_number, c.error_number) << c.name;
    EXPECT_EQ(host_.outcomes[0].log_path.empty(), !c.log) << c.name;
    EXPECT_EQ(Image(1), -1);  // the unchecked row keeps the reset state
    EXPECT_EQ(ReadFile(input_ + "_XOR8.log"), c.log ? "" : earlier) << c.name;
    EXPECT_EQ(fs::exists(input_ + "_ADD8.log"), c.log) << c.name;
  }
}

TEST_F(RunTest, RowsSharingALogPathGetNumberedLogs) {
  WriteFile(input_, "..1234567..");
  AddRow("NONE", "0");
  AddRow("XOR8", "0");
  AddRow("NONE", "1");
  AddRow("NONE", "2");
  Run();
  EXPECT_EQ(table_.LogPath(0), input_ + "_NONE.log");
  EXPECT_EQ(table_.LogPath(1), input_ + "_XOR8.log");
  EXPECT_EQ(table_.LogPath(2), input_ + "_NONE_2.log");
  EXPECT_EQ(table_.LogPath(3), input_ + "_NONE_3.log");
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "  0 |  2 | 1234567\r\n");
  EXPECT_EQ(ReadFile(input_ + "_NONE_3.log"), "  2 |  2 | 1234567\r\n");
  // A second run truncates and rewrites the same logs.
  table_.SetText(NxKeyColumn, 0, u"7");
  Run();
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "  7 |  2 | 1234567\r\n");
}

TEST_F(RunTest, RowsWithoutDecoderOrPresetAreSkippedWithAMessage) {
  WriteFile(input_, "1234567");
  AddRow("NONE", "0");
  AddRow("LOCAL", "0");
  AddRow("NONE", "0", "Nobody");
  AddRow("XOR8", "0");
  Run();
  ASSERT_EQ(host_.messages.size(), 2u);
  EXPECT_NE(host_.messages[0].find("LOCAL"), std::string::npos);
  EXPECT_NE(host_.messages[1].find("Nobody"), std::string::npos);
  for (int row : {1, 2}) {
    EXPECT_EQ(Image(row), kStatusNotRun);
    EXPECT_EQ(table_.Reason(row), host_.messages[row - 1]);
    EXPECT_EQ(Result(row), "?");
    EXPECT_EQ(Progress(row), 0);
    EXPECT_TRUE(table_.LogPath(row).empty());
  }
  EXPECT_FALSE(fs::exists(input_ + "_LOCAL.log"));
  EXPECT_EQ(Result(3), "1");  // the run goes on
  EXPECT_EQ(table_.LogPath(3), input_ + "_XOR8.log");
  EXPECT_EQ(table_.Reason(3), "");

  // A stop while the message is shown ends the run; the row still says why it did not run.
  host_.on_message = [] { StopRequested = true; };
  Run();
  EXPECT_EQ(Image(1), kStatusNotRun);
  EXPECT_EQ(Image(3), kStatusNone);
}

TEST_F(RunTest, NoCheckedRowCreatesNoFile) {
  WriteFile(input_, "1234567");
  AddRow("NONE", "0", "Digits", false);
  Run();
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  EXPECT_EQ(host_.controls, (std::vector<bool>{false, true}));
}

TEST_F(RunTest, StopDuringTheTenthPassOfAnAllKeysRow) {
  std::string data;
  for (int i = 0; i < 50; ++i) data += "1234567.";
  WriteFile(input_, data);
  AddRow("NONE", "");
  AddRow("XOR8", "0");
  int lines_of_key_ten = 0;
  // The log is written in chunks of whole lines; the stop comes once key 10 has three.
  host_.on_line = [&](std::string_view bytes) {
    for (size_t at = 0; at < bytes.size(); at = bytes.find("\r\n", at) + 2) {
      if (bytes.substr(at, 4) == " 10 " && ++lines_of_key_ten == 3) StopRequested = true;
    }
  };
  Run();
  EXPECT_FALSE(StopRequested.load());  // the run clears what it honoured
  EXPECT_EQ(Image(0), 3);
  EXPECT_EQ(Progress(0), 4);  // 10 * 100 / 255 rounded
  EXPECT_EQ(Link(0), 2);
  const std::string log = ReadFile(input_ + "_NONE.log");
  std::vector<std::string> lines;
  for (size_t at = 0; at < log.size();) {
    const size_t end = log.find("\r\n", at);
    lines.push_back(log.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_GE(lines.size(), 9u * 50 + 3);
  for (size_t i = 0; i < lines.size(); ++i) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%3d | %3d | 1234567", int(i / 50) + 1,
                  int(i % 50) * 8);
    ASSERT_EQ(lines[i], expected) << i;
  }
  EXPECT_LE(lines.size(), 10u * 50);
  EXPECT_EQ(Result(0), std::to_string(lines.size()));
  EXPECT_EQ(Image(1), -1);  // the rows after the stopped one are not visited
  EXPECT_FALSE(fs::exists(input_ + "_XOR8.log"));
}

TEST_F(RunTest, FormatErrorEndsTheRunAtTheFirstAcceptedString) {
  WriteFile(input_, "abc");
  format_ = "%s";
  AddRow("NONE", "0");  // nothing is found: the bad format goes unnoticed
  Run();
  EXPECT_EQ(Result(0), "0");
  WriteFile(input_, "1234567");
  EXPECT_THROW(Run(), Error);
  EXPECT_EQ(Result(0), "?");
  EXPECT_EQ(host_.controls.back(), true);
}

TEST_F(RunTest, ExpressionFiltersAndAnInvalidOneFailsOnlyAtTheFirstCandidate) {
  TPreset filtered = NewPreset();
  SetShortString(filtered.Name, "Phones");
  SetShortString(filtered.RegExp, "^555\\d{4}$");
  presets_.Append(filtered);
  TPreset broken = NewPreset();
  SetShortString(broken.Name, "Broken");
  SetShortString(broken.RegExp, "a(b");
  presets_.Append(broken);
  WriteFile(input_, "5551234 5559 1234567 5550000x");
  AddRow("NONE", "0", "Phones");
  AddRow("XOR8", "0", "Broken");
  table_.SetChecked(1, false);
  Run();
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "  0 |  0 | 5551234\r\n  0 | 21 | 5550000\r\n");
  EXPECT_EQ(Result(0), "2");
  // No candidate of seven digits under key $40: the broken expression is never compiled.
  table_.SetChecked(0, false);
  table_.SetChecked(1, true);
  table_.SetText(NxKeyColumn, 1, u"$40");
  Run();
  EXPECT_EQ(Result(1), "0");
  table_.SetText(NxKeyColumn, 1, u"0");
  try {
    Run();
    FAIL() << "no error";
  } catch (const ERegExp& e) {
    EXPECT_STREQ(e.what(), "RegExp(comp): ParseReg Unmatched () (pos 3)");
  }
  EXPECT_EQ(host_.controls.back(), true);
}

TEST_F(RunTest, LogErrors) {
  WriteFile(input_, "1234567");
  AddRow("NONE", "0");
  const std::string log = input_ + "_NONE.log";
  const fs::path target = dir_ / "target.txt";
  WriteFile(target, "keep");
  // Only a regular file at the log's name is replaced: a symbolic link (its target is left
  // alone), a FIFO (which would block the run for ever) and a folder are refused.
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { fs::create_symlink(target, log); }, "File access denied"},
      {[&] { ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0); }, "File access denied"},
      {[&] { fs::create_directory(log); }, "I/O error 21"},
  };
  for (const auto& [make, message] : cases) {
    make();
    try {
      Run();
      ADD_FAILURE() << "no error: " << message;
    } catch (const IoError& e) {
      EXPECT_EQ(e.what(), message);
    }
    EXPECT_EQ(ReadFile(target), "keep");
    fs::remove(log);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  // A folder that no one but root may write.
  fs::permissions(dir_, fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write |
                                           fs::perms::others_write));
  test::AsOrdinaryUser([&] { EXPECT_THROW(Run(), IoError); });
  fs::permissions(dir_, fs::perms::owner_all);
}

TEST_F(RunTest, ALogNameThatIsAHardLinkLeavesTheOtherFileWhole) {
  // Backups made of hard links share a file between names: the log takes the name's place and
  // the other name keeps its bytes, even when it is the input itself.
  WriteFile(input_, "xxxx1234567890yyyy");
  AddRow("NONE", "0");
  const std::string log = input_ + "_NONE.log";
  const fs::path precious = dir_ / "precious.txt";
  WriteFile(precious, "PRECIOUS\n");
  fs::create_hard_link(precious, log);
  Run();
  EXPECT_EQ(ReadFile(precious), "PRECIOUS\n");
  EXPECT_EQ(ReadFile(log), "  0 |  4 | 1234567890\r\n");
  fs::remove(log);
  fs::create_hard_link(input_, log);
  Run();
  EXPECT_EQ(ReadFile(input_), "xxxx1234567890yyyy");
  EXPECT_EQ(ReadFile(log), "  0 |  4 | 1234567890\r\n");
}

TEST_F(RunTest, LargeFileWidthAndPositions) {
  // A sparse file of 5 GiB: the full 64-bit size gives the width, strings past 4 GiB are found.
  const uint64_t size = uint64_t{5} << 30;
  {
    std::ofstream out(input_, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(size - 8));
    out << "1234567.";
  }
  if (fs::file_size(input_) != size) GTEST_SKIP() << "no sparse files here";
  AddRow("NONE", "0");
  Run();
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "  0 | 5368709112 | 1234567\r\n");
}

TEST_F(RunTest, FileThatShrinksWhileScannedEndsTheRowWithTheReadMessage) {
  // A string at the start, then 8 MiB of bytes outside the alphabet: once the first block's
  // line is written (one thread: blocks in turn) the file is cut to one page, so the next block
  // reads past its new end.
  std::string data = "1234567.";
  data.resize(8u << 20, '.');
  WriteFile(input_, data);
  AddRow("NONE", "0");
  AddRow("XOR8", "0");
  workers_ = 1;
  host_.on_line = [&](std::string_view) { ::truncate(input_.c_str(), 4096); };
  Run();
  EXPECT_EQ(host_.messages, (std::vector<std::string>{kCannotReadMessage}));
  EXPECT_EQ(Image(0), kStatusNotRun);
  EXPECT_EQ(table_.Reason(0), kCannotReadMessage);
  EXPECT_EQ(Result(0), "?");
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "  0 |       0 | 1234567\r\n");  // found lines stay
  EXPECT_EQ(Image(1), 1);  // the run goes on with the next row, over the shorter file
  EXPECT_EQ(Result(1), "1");
}

TEST_F(RunTest, ASpanOfAGibibyteOfAlphabetBytesIsOneString) {
  // A sparse file reads as zero bytes: with the alphabet "\0" the whole file is one run. A slow
  // build may take less, as long as the run still spans many of the scan's blocks and is longer
  // than any text the run holds.
  const uint64_t size = test::Shrunk(uint64_t{1} << 30, 2 * kHeldInMemoryBytes);
  {
    std::ofstream out(input_, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(size - 1));
    out.put('\0');
  }
  TPreset zeros = NewPreset();
  SetShortString(zeros.Name, "Zeros");
  SetShortString(zeros.Alphabet, std::string(1, '\0'));
  zeros.MinLength = 1;
  presets_.Append(zeros);
  format_ = "%2:d %3:.4s";
  AddRow("NONE", "0", "Zeros");
  Run();
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), std::string("0 \0\0\0\0\r\n", 8));
  EXPECT_EQ(Result(0), "1");
}

TEST_F(RunTest, ALongStringStreamsIntoItsLineInPieces) {
  // 8 MiB of one letter under XOR8 key 1: the line is written in pieces, never held whole.
  WriteFile(input_, std::string(8u << 20, 'a' ^ 1));
  TPreset letter = NewPreset();
  SetShortString(letter.Name, "Letter");
  SetShortString(letter.Alphabet, "a");
  presets_.Append(letter);
  format_ = "%3:s|%3:.3s";
  size_t largest = 0;
  host_.on_line = [&](std::string_view bytes) { largest = std::max(largest, bytes.size()); };
  AddRow("XOR8", "1", "Letter");
  Run();
  EXPECT_EQ(ReadFile(input_ + "_XOR8.log"), std::string(8u << 20, 'a') + "|aaa\r\n");
  EXPECT_LE(largest, size_t{1} << 20);
}

TEST_F(RunTest, AnExpressionAboutAStringTooLongToHoldReadsItThroughATemporaryFile) {
  // More than kHeldInMemoryBytes of one letter and a last one: the expression sees the whole
  // text, decoded into a temporary file rather than into memory.
  std::string data(static_cast<size_t>(kHeldInMemoryBytes) + 4096, 'a');
  data.back() = 'b';
  WriteFile(input_, data);
  TPreset letters = NewPreset();
  SetShortString(letters.Name, "Letters");
  SetShortString(letters.Alphabet, "ab");
  SetShortString(letters.RegExp, "ab$");
  presets_.Append(letters);
  format_ = "%2:d %3:.4s";
  AddRow("NONE", "0", "Letters");
  Run();
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "0 aaaa\r\n");
}

TEST_F(RunTest, AFullDiskWhileTheLogIsWrittenEndsTheRunWithItsMessage) {
  WriteFile(input_, "1234567 7654321");
  AddRow("NONE", "0");
  AddRow("XOR8", "0");
  test::FailNextWrite(ENOSPC, 5);
  try {
    Run();
    FAIL() << "no error";
  } catch (const IoError& e) {
    EXPECT_STREQ(e.what(), "Disk full");
  }
  EXPECT_EQ(host_.controls.back(), true);
  EXPECT_FALSE(fs::exists(input_ + "_XOR8.log"));  // the run ended there
  // The next run, with room on the disk again, writes the whole log.
  Run();
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "  0 |  0 | 1234567\r\n  0 |  8 | 7654321\r\n");
}

// The run of a request without a grid: what each row tells its observer, in order, and the
// input each row reads.
class Journal : public RunObserver {
 public:
  std::vector<std::string> events;
  std::function<std::string(const std::string&)> input;  // unset: the request's

  std::string RowInput(const std::string& requested) override {
    return input ? input(requested) : requested;
  }
  void RowStarted(const RequestRow& row) override { Add(row, "started"); }
  void RowScanned(const RequestRow& row, int64_t found) override {
    Add(row, "scanned " + std::to_string(found));
  }
  void Message(const RequestRow& row, const std::string&) override { Add(row, "message"); }
  void InputMessage(const RequestRow& row, const std::string&, const std::string&) override {
    Add(row, "input message");
  }
  void RowFinished(const RequestRow& row, const RowOutcome& outcome) override {
    static constexpr const char* kKinds[] = {"done", "stopped", "input failed", "skipped"};
    Add(row, std::string("finished, ") + kKinds[static_cast<int>(outcome.kind)]);
    outcomes.push_back(outcome);
  }
  std::vector<RowOutcome> outcomes;

 private:
  void Add(const RequestRow& row, const std::string& what) {
    events.push_back(std::to_string(row.row) + " " + what);
  }
};

RequestRow Task(int number, std::string algorithm, std::string key, bool preset = true) {
  RequestRow row;
  row.row = number;
  row.algorithm = std::move(algorithm);
  row.key = std::move(key);
  row.preset = "Digits";
  if (preset) row.fields = SearchFields{"0123456789", "", 7, 0};
  return row;
}

TEST_F(RunTest, ARequestTellsItsObserverEachRowInOrder) {
  WriteFile(input_, "ab1234567cd");
  AnalysisRequest request;
  request.input = input_;
  request.format = format_;
  request.rows = {Task(4, "NONE", "0"), Task(7, "LOCAL", ""), Task(9, "NONE", "0", false),
                  Task(2, "XOR8", "0")};
  Journal journal;
  RunRequest(request, journal);
  EXPECT_EQ(journal.events,
            (std::vector<std::string>{"4 started", "4 scanned 1", "4 finished, done", "7 started",
                                      "7 message", "7 finished, skipped", "9 started", "9 message",
                                      "9 finished, skipped", "2 started", "2 scanned 1",
                                      "2 finished, done"}));
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "  0 |  2 | 1234567\r\n");
}

// A batch hashes a file and hands its mapping to the run: the rows read those very bytes, even
// once another file has taken the name; a row whose input is another path maps that one.
TEST_F(RunTest, ARequestsOwnMappingIsScannedAndTheInputIsAskedForAtEachRow) {
  WriteFile(input_, "..1234567..");
  MappedInput mapped;
  ASSERT_EQ(mapped.Open(input_), MappedInput::Result::kOk);
  WriteFile(dir_ / "other.bin", "7654321.....");
  fs::rename(dir_ / "other.bin", input_);
  const std::string dropped = (dir_ / "dropped.bin").string();
  WriteFile(dropped, "x5555555");
  AnalysisRequest request;
  request.input = input_;
  request.mapped = &mapped;
  request.format = format_;
  request.rows = {Task(0, "NONE", "0"), Task(1, "NONE", "1")};
  Journal journal;
  // A drop after the first row: the second row reads the new path.
  journal.input = [&](const std::string& requested) {
    return journal.outcomes.empty() ? requested : dropped;
  };
  RunRequest(request, journal);
  EXPECT_EQ(ReadFile(input_ + "_NONE.log"), "  0 |  2 | 1234567\r\n");
  EXPECT_EQ(ReadFile(dropped + "_NONE.log"), "  1 | 1 | 5555555\r\n");
  ASSERT_EQ(journal.outcomes.size(), 2u);
  EXPECT_EQ(journal.outcomes[0].search->stamp, mapped.stamp());
  EXPECT_EQ(journal.outcomes[1].search->input, dropped);
}

}  // namespace
}  // namespace veskor
