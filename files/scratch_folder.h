// Test helper: a fresh folder per test of this folder's files, with a program file's path in it,
// removed afterwards whatever permissions the test left on it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace veskor::test {

class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("veskor_files_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "presets.dat").string();
  }
  void TearDown() override {
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
    std::filesystem::remove_all(dir_);
  }
  // The bytes at path_.
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The entries of the folder.
  size_t Entries() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_), {}));
  }

  std::filesystem::path dir_;
  std::string path_;
};

}  // namespace veskor::test
