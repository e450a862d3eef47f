// PE and ELF files stored in random bytes under every family of ciphers, found by one pass of a
// row's pairs: all keys, one key, ANY's pairs and keys of many bytes; sizes cut at the end,
// overlays, a stop and a file that shrinks under its mapping.
#include "engine/carve/executable_finder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/carve/test_ciphers.h"
#include "engine/carve/test_executables.h"
#include "engine/decoding/xor_key.h"
#include "engine/input/mapped_input.h"
#include "engine/search/scan_input.h"

namespace veskor {
namespace {

std::string RandomBytes(size_t size, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

// `host` with `payload` written over it from `offset`.
std::string Planted(std::string host, const std::string& payload, uint64_t offset) {
  if (host.size() < offset + payload.size()) host.resize(offset + payload.size());
  host.replace(offset, payload.size(), payload);
  return host;
}

ExecutableFinder::Result Find(const ExecutableFinder& finder, const std::string& file,
                              const FindOptions& options = {}) {
  return finder.Find(reinterpret_cast<const uint8_t*>(file.data()), file.size(), options);
}

const TAlgorithm& Algorithm(const std::string& name) {
  for (const TAlgorithm& algorithm : Algorithms) {
    if (algorithm.Name == name) return algorithm;
  }
  throw std::invalid_argument(name);
}

class ExecutableFinderTest : public ::testing::Test {
 protected:
  void SetUp() override { FillAlgorithms(); }
};

struct Stored {
  const char* algorithm;
  int key;
  uint64_t offset;
  bool elf;
  // The name and key ANY gives the pair: the first algorithm of the table that decodes alike.
  const char* any_algorithm;
  int any_key;
};

constexpr Stored kStored[] = {
    {"XOR8", 0x5A, 70001, false, "XOR8", 0x5A},
    {"XOR8", 0x80, 4096, true, "XOR8", 0x80},
    {"ADD8", 0x80, 333, false, "XOR8", 0x80},
    {"ADD8", 17, 100000, true, "ADD8", 17},
    {"SUB8", 17, 5, false, "ADD8", 239},
    {"XOR8ROL", 0x35A, 12345, false, "XOR8ROL", 0x35A},
    {"XOR8ROL", 0x700, 999, true, "XOR8ROL", 0x700},
    {"ADD8ROL", 0x217, 8191, true, "ADD8ROL", 0x217},
    {"ADD8ROL", 0x300, 77, false, "XOR8ROL", 0x300},
    {"ROL8ADD", 0x5C3, 2, false, "ROL8ADD", 0x5C3},
    {"XOR8N", 0x41, 65536, false, "XOR8N", 0x41},
    {"XOR8INC", 0x90, 31337, false, "XOR8INC", 0x90},
    {"XOR8INC", 0, 0, true, "XOR8INC", 0},
    {"XOR8DEC", 0x33, 257, true, "XOR8DEC", 0x33},
    {"XOR8W", 0x21, 4000, false, "XOR8", 0x21},
    {"NONE", 1, 50000, true, nullptr, 0},
};

std::string Payload(const Stored& s) {
  return s.elf ? test::MakeElf({.wide = s.key % 2 == 0, .seed = s.offset})
               : test::MakePe({.wide = s.key % 2 == 1, .sections = 3, .seed = s.offset});
}

TEST_F(ExecutableFinderTest, EveryFamilyFindsItsStoredFileUnderEveryKey) {
  for (const Stored& s : kStored) {
    SCOPED_TRACE(std::string(s.algorithm) + " " + std::to_string(s.key));
    const std::string payload = Payload(s);
    const std::string file = Planted(RandomBytes(300000, s.key),
                                     test::Encode(s.algorithm, s.key, payload, s.offset), s.offset);
    ExecutableFinder finder;
    finder.AddEveryKey(Algorithm(s.algorithm));
    const ExecutableFinder::Result result = Find(finder, file);
    EXPECT_TRUE(result.complete);
    ASSERT_EQ(result.found.size(), 1u);
    const FoundExecutable& found = result.found[0];
    EXPECT_EQ(found.format, s.elf ? ExecutableFormat::kElf : ExecutableFormat::kPe);
    EXPECT_EQ(found.offset, s.offset);
    EXPECT_EQ(found.size, payload.size());
    EXPECT_FALSE(found.truncated);
    const int key = Algorithm(s.algorithm).Unkeyed() ? Algorithm(s.algorithm).FirstKey : s.key;
    EXPECT_EQ(found.pair, (CarvePair{s.algorithm, key, {}}));

    // The row with the key given finds it; with another key, nothing.
    ExecutableFinder given, other;
    given.AddKey(Algorithm(s.algorithm), s.key);
    other.AddKey(Algorithm(s.algorithm), s.key ^ 1);
    ASSERT_EQ(Find(given, file).found.size(), 1u);
    EXPECT_EQ(Find(given, file).found[0].pair, found.pair);
    EXPECT_EQ(Find(other, file).found.size(), s.algorithm == std::string("NONE") ? 1u : 0u);

    // ANY tries every keyed pair once, named by the first algorithm that has it.
    ExecutableFinder any;
    any.AddEveryPair();
    const std::vector<FoundExecutable> by_any = Find(any, file).found;
    if (s.any_algorithm == nullptr) {
      EXPECT_TRUE(by_any.empty());
    } else {
      ASSERT_EQ(by_any.size(), 1u);
      EXPECT_EQ(by_any[0].offset, s.offset);
      EXPECT_EQ(by_any[0].pair, (CarvePair{s.any_algorithm, s.any_key, {}}));
    }
  }
}

// ADD8ROL and ROL8ADD hold pairs that decode every byte the header checks read alike and differ
// elsewhere (most often at keys whose low byte is near 0xFF). The pair that decodes the stored
// program back is listed; another only where the rest of the header holds under it as well.
TEST_F(ExecutableFinderTest, OfPairsAgreeingOnTheHeaderTheTrueOneIsListed) {
  std::ifstream in("/proc/self/exe", std::ios::binary);
  const std::string self((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ExecutableFinder rotations;
  rotations.AddEveryKey(Algorithm("ADD8ROL"));
  rotations.AddEveryKey(Algorithm("ROL8ADD"));
  struct Keys {
    const char* algorithm;
    int first, last, step;
  } const kKeys[] = {{"ADD8ROL", 0x1F0, 0x1FF, 1}, {"ROL8ADD", 0x1E0, 0x1FE, 2}};
  for (const Keys& keys : kKeys) {
    for (int key = keys.first; key <= keys.last; key += keys.step) {
      SCOPED_TRACE(std::string(keys.algorithm) + " " + std::to_string(key));
      const uint64_t offset = 1000 + static_cast<uint64_t>(key);
      const std::string stored = test::Encode(keys.algorithm, key, self, offset);
      const std::string file =
          Planted(RandomBytes(offset + self.size() + 100, key), stored, offset);
      const auto* data = reinterpret_cast<const uint8_t*>(file.data());
      const CarvePair truth{keys.algorithm, key, {}};
      const int true_score = HeaderRegularity(data, file.size(), offset, CipherOf(truth));
      bool listed = false;
      for (const FoundExecutable& f : Find(rotations, file).found) {
        EXPECT_EQ(f.offset, offset);
        if (f.pair == truth) {
          listed = true;
          std::string decoded(self.size(), '\0');
          CipherOf(f.pair).Decode(data + offset, offset, reinterpret_cast<uint8_t*>(decoded.data()),
                                  self.size());
          EXPECT_TRUE(decoded == self);
        } else {
          EXPECT_EQ(HeaderRegularity(data, file.size(), offset, CipherOf(f.pair)), true_score)
              << f.pair.algorithm << " " << KeyTextOf(f.pair);
        }
      }
      EXPECT_TRUE(listed);
    }
  }
}

TEST_F(ExecutableFinderTest, KeysOfManyBytesFindAtEveryPhase) {
  const std::vector<uint8_t> key = {0x8C, 0x61, 0xD2, 0x63, 0x17};
  for (const uint64_t offset : {uint64_t{0}, uint64_t{1}, uint64_t{4}, uint64_t{100003}}) {
    const std::string payload = test::MakePe({.wide = true, .seed = offset});
    const std::string file =
        Planted(RandomBytes(200000, offset), test::EncodeRepeating(key, payload, offset), offset);
    ExecutableFinder finder;
    finder.AddKeyBytes("XORK", key);
    finder.AddKeyBytes("XORK", {0x8C, 0x61, 0xD2, 0x63, 0x18});
    const std::vector<FoundExecutable> found = Find(finder, file).found;
    ASSERT_EQ(found.size(), 1u) << offset;
    EXPECT_EQ(found[0].offset, offset);
    EXPECT_EQ(found[0].size, payload.size());
    EXPECT_EQ(found[0].pair, (CarvePair{"XORK", 0, key}));
    EXPECT_EQ(KeyTextOf(found[0].pair), "0x8c61d26317");
    EXPECT_EQ(KeyTextOf(found[0].pair), XorKey::Of(key)->Text());  // as the XORK row writes it
  }
}

TEST_F(ExecutableFinderTest, TheFileItselfIsNotHiddenButWhatFollowsIs) {
  const std::string outer = test::MakePe({.sections = 2, .seed = 1});
  const std::string inner = test::MakeElf({.seed = 2});
  const std::string file = outer + RandomBytes(1000, 3) + inner;
  ExecutableFinder none;
  none.AddEveryKey(Algorithm("NONE"));
  const std::vector<FoundExecutable> found = Find(none, file).found;
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].offset, outer.size() + 1000);
  EXPECT_EQ(found[0].format, ExecutableFormat::kElf);
}

TEST_F(ExecutableFinderTest, SizesPastTheEndAreCutAndOverlaysReachTheNextFile) {
  const std::string first = test::MakePe({.sections = 2, .seed = 4});
  const std::string second = test::MakePe({.wide = true, .sections = 3, .seed = 5});
  const std::string gap = RandomBytes(777, 6);
  // The second PE loses its last 100 bytes: its headers still declare them.
  const std::string file = "junk" + first + gap + second.substr(0, second.size() - 100);
  const uint64_t second_at = 4 + first.size() + gap.size();
  ExecutableFinder none;
  none.AddEveryKey(Algorithm("NONE"));
  struct Case {
    bool overlay;
    uint64_t first_size, second_size;
  } cases[] = {{false, first.size(), second.size() - 100},
               {true, first.size() + gap.size(), second.size() - 100}};
  for (const Case& c : cases) {
    FindOptions options;
    options.overlay = c.overlay;
    const std::vector<FoundExecutable> found = Find(none, file, options).found;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].offset, 4u);
    EXPECT_EQ(found[0].size, c.first_size) << c.overlay;
    EXPECT_FALSE(found[0].truncated);
    EXPECT_EQ(found[1].offset, second_at);
    EXPECT_EQ(found[1].size, c.second_size);
    EXPECT_TRUE(found[1].truncated);
  }
}

TEST_F(ExecutableFinderTest, MagicNumbersWithoutHeadersAreNotFiles) {
  // Every two bytes an MZ or an ELF magic under XOR8 0x5A, followed by nothing valid.
  std::string file;
  for (int i = 0; i < 20000; ++i)
    file += i % 3 == 0 ? std::string(
                             "\x7F"
                             "ELF\x02\x01\x01",
                             7)
                       : "MZ";
  ExecutableFinder finder;
  finder.AddEveryKey(Algorithm("XOR8"));
  finder.AddEveryKey(Algorithm("NONE"));
  EXPECT_TRUE(Find(finder, test::Encode("XOR8", 0x5A, file, 0)).found.empty());
  EXPECT_TRUE(Find(finder, file).found.empty());
}

TEST_F(ExecutableFinderTest, AStopEndsTheSearch) {
  const std::string file = test::MakePe({.seed = 8}) + test::MakePe({.seed = 9});
  ExecutableFinder none;
  none.AddEveryKey(Algorithm("NONE"));
  int asked = 0;
  FindOptions options;
  options.go_on = [&] { return ++asked < 1; };
  const ExecutableFinder::Result stopped = Find(none, file, options);
  EXPECT_FALSE(stopped.complete);
  EXPECT_TRUE(stopped.found.empty());
  EXPECT_EQ(asked, 1);
}

TEST_F(ExecutableFinderTest, AFileThatShrinksUnderItsMappingIsAReadError) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("veskor_carve_" + std::to_string(::getpid())))
          .string();
  {
    std::ofstream out(path, std::ios::binary);
    out << RandomBytes(8 << 20, 1);
  }
  MappedInput input;
  ASSERT_EQ(input.Open(path), MappedInput::Result::kOk);
  ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
  ExecutableFinder finder;
  finder.AddEveryKey(Algorithm("XOR8"));
  EXPECT_THROW(finder.Find(input.data(), input.size()), InputReadError);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace veskor
