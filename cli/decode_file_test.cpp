// --decode: every algorithm's stored bytes decoded back from a range inside a file, and what a
// failed or stopped decoding leaves.
#include "cli/decode_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "cli/options.h"
#include "engine/carve/range_decoder.h"
#include "engine/carve/test_ciphers.h"
#include "engine/decoding/algorithms.h"
#include "files/write_fully.h"

namespace veskor {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Random(size_t size, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

class DecodeFileTest : public ::testing::Test {
 protected:
  void SetUp() override { FillAlgorithms(); }
  void TearDown() override {
    ::unlink(input_.c_str());
    ::unlink(output_.c_str());
  }
  // Names of this process's own: the tests run side by side as processes.
  const std::string input_ = ::testing::TempDir() + "decode_input_" + std::to_string(::getpid());
  const std::string output_ = ::testing::TempDir() + "decode_output_" + std::to_string(::getpid());
};

// Bytes stored under each algorithm at an offset inside random bytes (more than a block of the
// decoder, so that a running or repeating key crosses blocks) come back from --range to -o, and
// from the whole file's decoding at the same offsets (under the key's other syntax where it has
// one).
TEST_F(DecodeFileTest, EveryAlgorithmRoundTrips) {
  const std::string plain = Random(kDecodeBlockBytes + 4099, 1);
  const uint64_t offset = 777;
  const struct {
    const char* algorithm;
    const char* key;
    int value;
    const char* whole_key = nullptr;  // the same key written otherwise
    std::vector<uint8_t> bytes = {};  // of a key of many bytes
  } cases[] = {
      {"XOR8", "0x5A", 0x5A},
      {"ADD8", "200", 200},
      {"SUB8", "$11", 0x11},
      {"NONE", "1", 1},
      {"XOR8W", "77", 77},
      {"ADD8W", "1", 1},
      {"SUB8W", "255", 255},
      {"NONEW", "9", 9},
      {"XOR8ROL", "0x35A", 0x35A},
      {"ADD8ROL", "0x7FF", 0x7FF},
      {"ROL8ADD", "0x101", 0x101},
      {"XOR8N", "0x20", 0x20},
      {"XOR8INC", "0", 0},
      {"XOR8DEC", "0xC3", 0xC3},
      // Five bytes: neither the offset nor a block's end falls on the key's start.
      {"XORK", "8c:61:d2:63:18", 0, "0x8C61D26318", {0x8C, 0x61, 0xD2, 0x63, 0x18}},
  };
  static_assert(std::size(cases) == kAlgorithmCount);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.algorithm);
    const std::string stored = c.bytes.empty() ? test::Encode(c.algorithm, c.value, plain, offset)
                                               : test::EncodeRepeating(c.bytes, plain, offset);
    Write(input_, Random(offset, 2) + stored + Random(99, 3));
    DecodeRequest request;
    request.input = input_;
    request.cipher = DecodeCipher(c.algorithm, c.key, c.key);
    request.start = offset;
    request.end = offset + plain.size();
    request.output = output_;
    const std::atomic<bool> stop{false};
    DecodeFile(request, stop);
    EXPECT_TRUE(Read(output_) == plain);
    const char* whole_key = c.whole_key != nullptr ? c.whole_key : c.key;
    request.cipher = DecodeCipher(c.algorithm, whole_key, whole_key);
    request.start = 0;
    request.end.reset();
    DecodeFile(request, stop);
    EXPECT_TRUE(Read(output_).substr(offset, plain.size()) == plain);
  }
}

TEST_F(DecodeFileTest, WrongPairsAreUsageErrors) {
  const std::pair<std::string, std::string> cases[] = {
      {"XOR9", "1"},     {"xor8", "1"},
      {"XOR8", "x"},     {"XOR8ROL", "0x5A"},
      {"ANY", "1"},      {"XORK", "0x5A"},
      {"XORK", "5"},     {"XORK", "0x5a5a"},
      {"XORK", "0x123"}, {"XORK", "0x" + std::string(66, '1')}};
  for (const auto& [algorithm, key] : cases) {
    EXPECT_THROW(DecodeCipher(algorithm, key, key), UsageError) << algorithm << " " << key;
  }
}

// A range past the end, a write that fails and a stop leave -o's old file as it was and no
// temporary file beside it.
TEST_F(DecodeFileTest, WhatFailsLeavesTheOldFile) {
  Write(input_, Random(kDecodeBlockBytes * 3, 4));
  Write(output_, "old");
  DecodeRequest request;
  request.input = input_;
  request.cipher = DecodeCipher("XOR8", "1", "1");
  request.output = output_;
  const std::atomic<bool> go{false}, stopped{true};
  request.end = kDecodeBlockBytes * 3 + 1;
  EXPECT_THROW(DecodeFile(request, go), Error);
  request.end.reset();
  test::FailNextWrite(ENOSPC, 1000);
  try {
    DecodeFile(request, go);
    ADD_FAILURE() << "a full disk passed for a write";
  } catch (const Error& e) {
    EXPECT_EQ(e.file(), output_);
  }
  EXPECT_THROW(DecodeFile(request, stopped), Error);
  EXPECT_EQ(Read(output_), "old");
  int left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(::testing::TempDir())) {
    left += entry.path().filename().string().starts_with(".decode_output.bin.");
  }
  EXPECT_EQ(left, 0);
}

}  // namespace
}  // namespace veskor
