// The carving of a batch's file: the same bytes found under several tasks written once, and what
// a stop or a full disk leaves.
#include "cli/file_carver.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/carve/test_ciphers.h"
#include "engine/carve/test_executables.h"
#include "engine/decoding/algorithms.h"
#include "engine/decoding/xor_key.h"
#include "engine/run/run_search.h"
#include "files/io_error.h"
#include "files/write_fully.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

RequestRow Row(int number, const std::string& algorithm, const std::string& key = "") {
  RequestRow row;
  row.row = number;
  row.algorithm = algorithm;
  row.key = key;
  row.key_shown = key;
  return row;
}

RowOutcome Done(int row) {
  RowOutcome outcome;
  outcome.row = row;
  return outcome;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class FileCarverTest : public ::testing::Test {
 protected:
  // Each test in a folder of its own: the tests of this fixture run side by side as processes.
  void SetUp() override {
    FillAlgorithms();
    std::string root = ::testing::TempDir() + "carver_XXXXXX";
    ASSERT_NE(::mkdtemp(root.data()), nullptr);
    root_ = root;
    dir_ = root + "/out";
    input_path_ = root + "/input.bin";
    fs::create_directories(dir_);
    pe_ = test::MakePe({});
    // ADD8 key 16 decodes every byte as SUB8 key 240 does, and ANY names it ADD8 16.
    std::ofstream(input_path_, std::ios::binary)
        << std::string(300, 'x') + test::Encode("ADD8", 16, pe_, 300) + std::string(50, 'y');
    ASSERT_EQ(input_.Open(input_path_), MappedInput::Result::kOk);
  }
  std::vector<fs::path> Files() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir_)) files.push_back(entry.path());
    return files;
  }

  // The carve wrote the made PE whole under each of `names` (file stems, in order), and nothing
  // else.
  void ExpectWritten(const FileCarver::Outcome& outcome, const std::vector<std::string>& names) {
    std::vector<std::string> written;
    for (const auto& w : outcome.written) {
      written.push_back(fs::path(w.file.path).stem().string());
      EXPECT_TRUE(Read(w.file.path) == pe_);
    }
    EXPECT_EQ(written, names);
    EXPECT_EQ(Files().size(), names.size());
  }

  void TearDown() override { fs::remove_all(root_); }

  std::string root_, dir_, input_path_;
  std::string pe_;
  MappedInput input_;
  const std::function<std::optional<std::string>()> hash_ = [] {
    return std::optional<std::string>(std::string(64, 'a'));
  };
};

TEST_F(FileCarverTest, BytesFoundUnderSeveralTasksAreWrittenOnce) {
  const struct {
    std::vector<RequestRow> rows;
    std::vector<std::string> names;  // the stems written, in order
  } cases[] = {
      {{Row(0, "ADD8"), Row(1, "SUB8"), Row(2, "ANY")}, {"aaaaaaaaaaaaaaaa_300_ADD8_16"}},
      {{Row(0, "SUB8"), Row(1, "ANY")}, {"aaaaaaaaaaaaaaaa_300_SUB8_240"}},
      {{Row(0, "ADD8", "16"), Row(1, "ADD8", "17")}, {"aaaaaaaaaaaaaaaa_300_ADD8_16"}},
      // A wrong key or algorithm is the row's own search's to tell; it finds nothing here.
      {{Row(0, "ADD8", "zz"), Row(1, "XOR9"), Row(2, "NONE")}, {}},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const FileCarver carver(dir_, c.rows);
    std::vector<RowOutcome> outcomes;
    for (const RequestRow& row : c.rows) outcomes.push_back(Done(row.row));
    FileCarver::Outcome outcome;
    carver.Carve(input_, outcomes, hash_, {}, outcome);
    EXPECT_TRUE(outcome.complete);
    ExpectWritten(outcome, c.names);
  }
}

// Without records to name them, the carved files are not hashed, and the same bytes under two
// pairs are still written once.
TEST_F(FileCarverTest, WithoutHashesTheSameBytesAreStillWrittenOnce) {
  const std::vector<RequestRow> rows = {Row(0, "SUB8"), Row(1, "ADD8"), Row(2, "ANY")};
  const FileCarver carver(dir_, rows, false);
  FileCarver::Outcome outcome;
  carver.Carve(input_, {Done(0), Done(1), Done(2)}, hash_, {}, outcome);
  ExpectWritten(outcome, {"aaaaaaaaaaaaaaaa_300_SUB8_240"});
  EXPECT_EQ(outcome.written.at(0).file.sha256, "");
}

// A typed key is the row's for every file; the keys an XORK or ANY row recovered are the file's,
// taken from the row's outcome for that file.
TEST_F(FileCarverTest, XorkKeysAreTypedOrTheFilesOwn) {
  const std::vector<uint8_t> key = {0x8C, 0x61, 0xD2, 0x63};
  const std::string path = root_ + "/xork.bin";
  std::ofstream(path, std::ios::binary)
      << std::string(301, 'x') + test::EncodeRepeating(key, pe_, 301) + std::string(50, 'y');
  MappedInput input;
  ASSERT_EQ(input.Open(path), MappedInput::Result::kOk);
  TAlgorithm xork;
  ASSERT_TRUE(FindAlgorithm("XORK", xork));
  const auto keys = std::make_shared<const std::vector<XorKey>>(
      std::vector<XorKey>{*XorKey::Of(std::vector<uint8_t>{1, 2}), *XorKey::Of(key)});
  const auto searched = [&](const RequestRow& row, bool recovered) {
    RowOutcome outcome = Done(row.row);
    auto search = std::make_shared<RunSearch>();
    search->any = row.algorithm == "ANY";
    search->algorithm = xork;
    if (recovered && search->any) search->xor_keys = keys;
    if (recovered && !search->any) search->algorithm = WithXorKeys(xork, keys);
    outcome.search = search;
    return outcome;
  };
  const std::string stem = "aaaaaaaaaaaaaaaa_301_XORK_0x8c61d263";
  const struct {
    std::vector<RequestRow> rows;
    bool recovered;  // the rows' outcomes hold the keys above
    std::vector<std::string> names;
  } cases[] = {
      {{Row(0, "XORK", "8c:61:d2:63")}, false, {stem}},
      {{Row(0, "XORK", "0x8c61d263"), Row(1, "ANY")}, true, {stem}},
      {{Row(0, "XORK")}, true, {stem}},
      {{Row(0, "ANY")}, true, {stem}},
      // Another file's keys, or none: nothing under XORK.
      {{Row(0, "XORK"), Row(1, "ANY")}, false, {}},
      {{Row(0, "XORK", "0x8c61d264")}, false, {}},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const FileCarver carver(dir_, c.rows);
    std::vector<RowOutcome> outcomes;
    for (const RequestRow& row : c.rows) outcomes.push_back(searched(row, c.recovered));
    FileCarver::Outcome outcome;
    carver.Carve(input, outcomes, hash_, {}, outcome);
    ExpectWritten(outcome, c.names);
  }
}

TEST_F(FileCarverTest, ARowThatDidNotEndIsNotCarved) {
  const FileCarver carver(dir_, {Row(0, "ADD8")});
  RowOutcome stopped = Done(0);
  stopped.kind = RowOutcome::Kind::kStopped;
  FileCarver::Outcome outcome;
  carver.Carve(input_, {stopped}, hash_, {}, outcome);
  EXPECT_TRUE(outcome.written.empty());
  EXPECT_TRUE(Files().empty());
}

TEST_F(FileCarverTest, AStopOrAFullDiskLeavesNoPartOfAFile) {
  const FileCarver carver(dir_, {Row(0, "ADD8")});
  FileCarver::Outcome stopped;
  carver.Carve(
      input_, {Done(0)}, hash_, [] { return false; }, stopped);
  EXPECT_FALSE(stopped.complete);
  FileCarver::Outcome no_hash;
  carver.Carve(
      input_, {Done(0)}, [] { return std::optional<std::string>(); }, {}, no_hash);
  EXPECT_FALSE(no_hash.complete);
  test::FailNextWrite(ENOSPC, 100);
  FileCarver::Outcome full;
  EXPECT_THROW(carver.Carve(input_, {Done(0)}, hash_, {}, full), IoError);
  EXPECT_TRUE(full.written.empty());
  EXPECT_TRUE(Files().empty());
}

}  // namespace
}  // namespace veskor
