// A row's strings found again: only in the very file its run read, whatever its modification time
// says.
#include "engine/key_strings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/analysis_run.h"
#include "presets/preset.h"

namespace veskor {
namespace {

namespace fs = std::filesystem;

class QuietHost : public RunHost {
 public:
  explicit QuietHost(std::string input) : input_(std::move(input)) {}
  std::string InputPath() override { return input_; }
  void ShowMessage(const std::string&) override {}
  void ProcessEvents() override {}
  std::string FormatText() override { return "%3d | %*d | %s"; }
  void RowFinished(const RowOutcome& outcome) override { search = outcome.search; }
  std::shared_ptr<const RunSearch> search;

 private:
  std::string input_;
};

int64_t Nanoseconds(const timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

TEST(KeyStrings, OnlyTheFileTheRunReadIsSearchedAgain) {
  FillAlgorithms();
  const fs::path dir = fs::temp_directory_path() / ("veskor_strings_" + std::to_string(::getpid()));
  const std::string input = (dir / "sample.bin").string();
  const std::string bytes = "ab1234567cd89" + std::string(20000, 'x') + "7654321";
  auto write = [&](const std::string& content) {
    std::ofstream(input, std::ios::binary | std::ios::trunc) << content;
  };
  // Each change keeps the size and puts the modification time back, as `cp -p`, `rsync -t` and
  // `tar x` do.
  struct Case {
    const char* name;
    bool change;
    std::string content;
    KeyStrings::Status status;
  } cases[] = {
      {"unchanged", false, bytes, KeyStrings::Status::kReady},
      {"another file's bytes", true, std::string(bytes.size(), '5'), KeyStrings::Status::kChanged},
      // The bytes may be the same, but the change time says the file was written since: telling
      // that apart would take reading all of it.
      {"the same bytes written again", true, bytes, KeyStrings::Status::kChanged},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    write(bytes);
    TaskTable table;
    table.AddTaskRow(true, -1, "NONE", "Digits", "0", 0, "0", -1);
    PresetList presets;
    TPreset digits = NewPreset();
    SetShortString(digits.Name, "Digits");
    SetShortString(digits.Alphabet, "0123456789");
    presets.Append(digits);
    QuietHost host(input);
    RunAnalysis(table, presets, host);
    ASSERT_TRUE(host.search) << c.name;
    struct stat run {};
    ASSERT_EQ(::stat(input.c_str(), &run), 0);
    if (c.change) {
      // The same bytes are written until the file system dates the write, which it does in steps
      // of its clock; other bytes tell themselves apart at once.
      struct stat now {};
      do {
        write(c.content);
        ASSERT_EQ(::stat(input.c_str(), &now), 0);
      } while (c.content == bytes && Nanoseconds(now.st_ctim) == Nanoseconds(run.st_ctim));
      const timespec times[2] = {run.st_atim, run.st_mtim};
      ASSERT_EQ(::utimensat(AT_FDCWD, input.c_str(), times, 0), 0);
    }
    KeyStrings strings(*host.search, 0);
    EXPECT_EQ(strings.Open(), c.status) << c.name;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace veskor
