// The input's mapping: only regular files, the messages' three cases, the file's stamp.
#include "engine/input/mapped_input.h"

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
  EXPECT_EQ(input.stamp().modified, info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec);
  EXPECT_EQ(input.stamp().inode, info.st_ino);
  EXPECT_EQ(StampOf((dir / "data.bin").string()), input.stamp());
  EXPECT_EQ(StampOf((dir / "missing.bin").string()), FileStamp{});
  fs::remove_all(dir);
}

// The sample tells apart files of one size whose other signs agree (a write within one tick of
// the file system's clock), by their first and last blocks, or by any byte of a small file.
TEST(MappedInput, TheSampleSeesAChangedByte) {
  const fs::path dir = fs::temp_directory_path() / ("veskor_sample_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  auto sample = [&](const std::string& bytes) {
    std::ofstream(dir / "file.bin", std::ios::binary | std::ios::trunc) << bytes;
    return StampOf((dir / "file.bin").string()).sample;
  };
  const std::pair<size_t, size_t> cases[] = {
      {100, 50}, {1 << 20, 0}, {1 << 20, (1 << 20) - 1}, {(1 << 20) + 3, (1 << 20) + 2}};
  for (const auto& [size, changed] : cases) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7);
    const uint64_t before = sample(bytes);
    EXPECT_EQ(sample(bytes), before) << size;
    bytes[changed] ^= 0x40;
    EXPECT_NE(sample(bytes), before) << size << " " << changed;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace veskor
