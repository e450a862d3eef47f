// The input's mapping: only regular files, the messages' three cases, the file's stamp.
#include "engine/mapped_input.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace veskor {
namespace {

namespace fs = std::filesystem;

TEST(MappedInput, OnlyARegularFileWithBytesIsMapped) {
  const fs::path dir = fs::temp_directory_path() / ("veskor_map_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "data.bin") << "0123456789";
  std::ofstream(dir / "empty.bin");
  ::mkfifo((dir / "fifo").c_str(), 0600);
  const std::pair<std::string, MappedInput::Result> cases[] = {
      {(dir / "data.bin").string(), MappedInput::Result::kOk},
      {(dir / "missing.bin").string(), MappedInput::Result::kCannotOpen},
      {dir.string(), MappedInput::Result::kCannotOpen},             // a folder
      {(dir / "fifo").string(), MappedInput::Result::kCannotOpen},  // would block a reader
      {"/dev/zero", MappedInput::Result::kCannotOpen},
      {(dir / "empty.bin").string(), MappedInput::Result::kCannotMap},
  };
  for (const auto& [path, result] : cases) {
    MappedInput input;
    EXPECT_EQ(input.Open(path), result) << path;
  }
  MappedInput input;
  ASSERT_EQ(input.Open((dir / "data.bin").string()), MappedInput::Result::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(input.data()), input.size()), "0123456789");
  struct stat info {};
  ::stat((dir / "data.bin").c_str(), &info);
  EXPECT_EQ(input.modified(), info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace veskor
