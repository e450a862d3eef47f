// The carving of a batch's file: the same bytes found under several tasks written once, and what
// a stop or a full disk leaves.
#include "cli/file_carver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/carve/test_ciphers.h"
#include "engine/carve/test_executables.h"
#include "engine/decoding/algorithms.h"
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
  void SetUp() override {
    FillAlgorithms();
    fs::remove_all(dir_);
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

  const std::string dir_ = ::testing::TempDir() + "carver_out";
  const std::string input_path_ = ::testing::TempDir() + "carver_input.bin";
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
    std::vector<std::string> names;
    for (const auto& w : outcome.written) {
      names.push_back(fs::path(w.file.path).stem().string());
      EXPECT_TRUE(Read(w.file.path) == pe_);
    }
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(Files().size(), c.names.size());
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
