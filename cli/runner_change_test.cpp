// veskor-scan over a file rewritten in place between its hash and the end of its scan. The
// moment is the test's own, never a delay: the runner's standard error is a pipe filled to the
// brim, so the runner stops at its first line there (its first task's summary, written once the
// task has scanned the file that was hashed, before the file's record); the test waits until the
// runner is blocked in that write, rewrites every byte or interrupts it, and only then reads the
// pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "presets/preset.h"
#include "presets/preset_file.h"
#include "presets/preset_list.h"
#include "tasks/table_file.h"
#include "tasks/task_table.h"

namespace {

// The file: random bytes with a sentence stored under XOR8 90 every 4 KiB, so that every key
// finds strings and key 90 ranks first with a rule.
std::string Sample() {
  std::string bytes(size_t{1} << 20, '\0');
  std::mt19937 random(32);
  for (char& byte : bytes) byte = static_cast<char>(random());
  const std::string text = "Meet me at the old mill at noon and bring the ledger";
  for (size_t at = 100; at + text.size() + 1 < bytes.size(); at += 4096) {
    bytes[at - 1] = 0x5A;  // a zero under the key
    for (size_t i = 0; i < text.size(); ++i) bytes[at + i] = static_cast<char>(text[i] ^ 0x5A);
    bytes[at + text.size()] = 0x5A;
  }
  return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Outcome {
  int status = -1;  // the exit status
  std::vector<nlohmann::json> records;
};

std::vector<nlohmann::json> Records(const std::string& jsonl) {
  std::vector<nlohmann::json> records;
  size_t at = 0;
  while (at < jsonl.size()) {
    const size_t end = jsonl.find('\n', at);
    records.push_back(nlohmann::json::parse(jsonl.substr(at, end - at)));
    at = end + 1;
  }
  return records;
}

// What the test does once the runner's first task has ended: the runner is blocked writing the
// task's line on standard error, and can neither begin the next task nor look at the file again
// before the line is read.
enum class Act {
  kNothing,
  // Writes the rewrite's bytes over the file in place.
  kRewrite,
  // Sends SIGINT.
  kInterrupt,
};

// Waits until `child` is blocked in a write to its standard error (the system call it is in, as
// /proc tells it); false when it ends first or a minute passes.
bool BlockedWritingStandardError(pid_t child) {
  const std::string proc = "/proc/" + std::to_string(child) + "/";
  const std::string blocked = std::to_string(SYS_write) + " 0x2 ";
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < give_up) {
    // "PID (NAME) STATE ...": Z once the runner has ended.
    const std::string stat = ReadFile(proc + "stat");
    const size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos || stat.compare(name_end, 3, ") Z") == 0) return false;
    // The call's number and arguments, or "running".
    if (ReadFile(proc + "syscall").compare(0, blocked.size(), blocked) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Runs veskor-scan with `arguments` over `input`, its output to `output`, doing `act`.
Outcome Scan(std::vector<std::string> arguments, const std::string& input,
             const std::string& output, Act act = Act::kNothing, const std::string& rewrite = "") {
  Outcome run;
  int err[2];
  EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
  if (act != Act::kNothing) {
    // Filled until a write would block; the runner's end stays blocking.
    ::fcntl(err[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '.');
    while (::write(err[1], filler.data(), filler.size()) > 0) {
    }
    ::fcntl(err[1], F_SETFL, 0);
  }
  const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(out, 0);
  arguments.insert(arguments.begin(), VESKOR_SCAN);
  arguments.push_back(input);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out);
  ::close(err[1]);
  if (act != Act::kNothing) {
    if (!BlockedWritingStandardError(child)) ADD_FAILURE() << "the runner did not reach the moment";
    if (act == Act::kRewrite) {
      const int fd = ::open(input.c_str(), O_WRONLY | O_CLOEXEC);
      EXPECT_EQ(::pwrite(fd, rewrite.data(), rewrite.size(), 0),
                static_cast<ssize_t>(rewrite.size()));
      ::close(fd);
    } else {
      ::kill(child, SIGINT);
    }
  }
  char buffer[65536];
  while (::read(err[0], buffer, sizeof buffer) > 0) {
  }
  ::close(err[0]);
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.records = Records(ReadFile(output));
  return run;
}

TEST(RunnerChange, AFileRewrittenWhileScannedIsChangedAndNeverDone) {
  const std::string dir = ::testing::TempDir() + "runner_change_" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST, true);
  const std::string input = dir + "/sample.bin";
  const std::string sample = Sample();
  std::string other = sample;
  for (char& byte : other) byte = static_cast<char>(byte ^ 0x21);
  const std::vector<std::string> task = {
      "--algo", "XOR8", "--alphabet", "abcdefghijklmnopqrstuvwxyz ", "--min", "4"};
  struct Case {
    const char* name;
    std::vector<std::string> options;
  } cases[] = {
      {"ranked keys and rules", {"--json", "--summary", "--yara", "--jobs", "1"}},
      {"string records", {"--json", "--jobs", "1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments = task;
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    WriteFile(input, sample);
    const Outcome changed = Scan(arguments, input, dir + "/changed.jsonl", Act::kRewrite, other);
    EXPECT_EQ(changed.status, 1);
    ASSERT_FALSE(changed.records.empty());
    const nlohmann::json& file = changed.records.back();
    EXPECT_EQ(file["type"], "file");
    EXPECT_EQ(file["status"], "changed");
    EXPECT_EQ(file["message"], "the file changed while it was scanned");
    for (const nlohmann::json& record : changed.records) {
      EXPECT_NE(record["type"], "key");
      EXPECT_NE(record["type"], "rule");
    }
    // The old bytes back: the record's hash is the file's again, yet it was never done.
    WriteFile(input, sample);
    arguments.insert(arguments.end(), {"--skip-done", dir + "/changed.jsonl"});
    const Outcome resumed = Scan(arguments, input, dir + "/resumed.jsonl");
    EXPECT_EQ(resumed.status, 0);
    ASSERT_FALSE(resumed.records.empty());
    EXPECT_EQ(resumed.records.back()["status"], "done");
    EXPECT_EQ(resumed.records.back()["sha256"], file["sha256"]);
  }
  ::unlink(input.c_str());
  ::unlink((dir + "/changed.jsonl").c_str());
  ::unlink((dir + "/resumed.jsonl").c_str());
  ::rmdir(dir.c_str());
}

// A signal that stops a file after its first task has ended leaves the second unrun: the file
// did not finish, and prints no ranking and no rule of the one task it did.
TEST(RunnerChange, AFileStoppedBetweenItsTasksPrintsNoRankingOrRule) {
  const std::string dir = ::testing::TempDir() + "runner_stop_" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST, true);
  const std::string input = dir + "/sample.bin";
  WriteFile(input, Sample());
  veskor::PresetList presets;
  veskor::TPreset letters = veskor::NewPreset();
  veskor::SetShortString(letters.Name, "Letters");
  veskor::SetShortString(letters.Alphabet, "abcdefghijklmnopqrstuvwxyz ");
  letters.MinLength = 4;
  presets.Append(letters);
  veskor::SavePresets(presets, dir + "/presets.dat");
  veskor::TaskTable table;
  table.AddTaskRow(true, -1, "XOR8", "Letters", "90", 0, "0", -1);
  table.AddTaskRow(true, -1, "XOR8", "Letters", "", 0, "0", -1);
  veskor::SaveTableText(table, dir + "/grid.cfg", u',');
  const Outcome stopped = Scan({"--dir", dir, "--json", "--summary", "--yara", "--jobs", "1"},
                               input, dir + "/stopped.jsonl", Act::kInterrupt);
  EXPECT_EQ(stopped.status, 1);
  ASSERT_EQ(stopped.records.size(), 1u);
  EXPECT_EQ(stopped.records[0]["type"], "file");
  EXPECT_EQ(stopped.records[0]["status"], "error");
  EXPECT_EQ(stopped.records[0]["message"], "stopped");
  EXPECT_EQ(stopped.records[0]["reason"], "Interrupt");
  for (const char* name : {"sample.bin", "presets.dat", "grid.cfg", "stopped.jsonl"}) {
    ::unlink((dir + "/" + name).c_str());
  }
  ::rmdir(dir.c_str());
}

}  // namespace
