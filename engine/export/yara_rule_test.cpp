// YARA rules from a key's best strings: each string as the bytes the file stores it as, text
// under YARA's xor for the plain XORs, escaped so that no byte is lost.
#include "engine/export/yara_rule.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace veskor {
namespace {

using namespace std::string_literals;

const TAlgorithm& Algorithm(const std::string& name) {
  static bool filled = (FillAlgorithms(), true);
  (void)filled;
  for (const TAlgorithm& algorithm : Algorithms) {
    if (algorithm.Name == name) return algorithm;
  }
  throw std::runtime_error("no algorithm " + name);
}

std::string Xor(std::string bytes, int key) {
  for (char& c : bytes) c = static_cast<char>(c ^ key);
  return bytes;
}

// The single string line of a rule over `stored`, which starts at offset 2 of its file between
// bytes that no right string holds.
std::string StringLine(const std::string& algorithm, int key, const std::string& stored,
                       uint64_t characters) {
  const std::string file = "\xAA\xAA" + stored + "\xBB";
  const std::vector<BestString> best = {{2, characters, 30, "unused"}};
  const auto rule = YaraRule({"ab", &Algorithm(algorithm), key, 30, &best, file}, "r");
  if (!rule) return "(none)";
  const size_t begin = rule->find("$s1 = ");
  return rule->substr(begin, rule->find('\n', begin) - begin);
}

TEST(YaraRuleTest, EachStringIsWrittenAsTheFileStoresIt) {
  struct Case {
    std::string algorithm;
    int key;
    std::string stored;
    uint64_t characters;
    std::string line;
  };
  const Case cases[] = {
      {"XOR8", 90, Xor(R"(say "hi" C:\)", 90), 12, R"($s1 = "say \"hi\" C:\\" xor(90) ascii)"},
      {"XOR8", 1, Xor("tab\there\xC0\x7F", 1), 10, R"($s1 = "tab\x09here\xC0\x7F" xor(1) ascii)"},
      // A wide string's length counts characters of two bytes.
      {"XOR8W", 90, Xor("H\0i\0!\0"s, 90), 3, R"($s1 = "Hi!" xor(90) wide)"},
      // A character beyond 8 bits (U+0410) has no `wide` form: its bytes as stored.
      {"XOR8W", 90, Xor("H\0\x10\x04"s, 90), 2, "$s1 = { 12 5A 4A 5E }"},
      {"ADD8", 1, "\x47\x68", 2, "$s1 = { 47 68 }"},
      {"XOR8ROL", 0x35A, "\x53\x77", 2, "$s1 = { 53 77 }"},
      {"XOR8N", 90, "\x12\x00\x5A"s, 3, "$s1 = { 12 00 5A }"},
      {"XOR8INC", 0x10, "\x5A\x7A", 2, "$s1 = { 5A 7A }"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StringLine(c.algorithm, c.key, c.stored, c.characters), c.line) << c.line;
  }
}

TEST(YaraRuleTest, LongStringsAreCutAndRepeatsAndStringsOutsideTheFileLeftOut) {
  const std::string file = Xor(std::string(300, 'a') + "tail", 7);
  const std::vector<BestString> best = {
      {0, 304, 40, ""}, {300, 9, 35, ""}, {1, 250, 30, ""}, {299, 5, 20, ""}, {400, 2, 10, ""}};
  const auto rule = YaraRule({"ab", &Algorithm("XOR8"), 7, 42.5, &best, file}, "veskor_x");
  ASSERT_TRUE(rule);
  EXPECT_EQ(*rule,
            "rule veskor_x\n{\n  meta:\n    algo = \"XOR8\"\n    key = 7\n"
            "    score = \"42.5\"\n  strings:\n    $s1 = \"" +
                std::string(kRuleStringCharacters, 'a') +
                "\" xor(7) ascii\n    $s2 = \"atail\" xor(7) ascii\n"
                "  condition:\n    any of them\n}\n");
  const std::vector<BestString> outside = {{302, 3, 30, ""}, {305, 1, 30, ""}};
  EXPECT_FALSE(YaraRule({"ab", &Algorithm("XOR8"), 7, 42, &outside, file}, "veskor_x"));
}

TEST(YaraRuleTest, TheNameIsAnIdentifierOfHashAlgorithmAndKey) {
  TAlgorithm odd = Algorithm("ADD8");
  odd.Name = "A-B \xC0";
  struct Case {
    const TAlgorithm& algorithm;
    int key;
    std::string name;
  };
  const Case cases[] = {
      {Algorithm("XOR8ROL"), 0x35A, "veskor_0123456789abcdef_XOR8ROL_0x35A"},
      {Algorithm("XOR8W"), 255, "veskor_0123456789abcdef_XOR8W_255"},
      {odd, 3, "veskor_0123456789abcdef_A_B___3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(YaraRuleName("0123456789abcdef0123456789", c.algorithm, c.key), c.name);
  }
}

// The bytes a rule reads are copied out of the mapping under the guard: a file that shrank
// under it gives none instead of a fault.
TEST(CopyStoredStrings, CopiesTheStringsBytesAndSurvivesAFileThatShrank) {
  char path[] = "/tmp/veskor_ruleXXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string page(4096, 'x');
  const std::string file = page + "secret" + page;
  ASSERT_EQ(::write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
  void* map = ::mmap(nullptr, file.size(), PROT_READ, MAP_SHARED, fd, 0);
  ASSERT_NE(map, MAP_FAILED);
  const std::string_view mapped(static_cast<const char*>(map), file.size());
  // The second string lies past the file's end; the third too when it is wide.
  const std::vector<BestString> strings = {
      {4096, 6, 1, {}}, {9000, 4, 1, {}}, {8195, 2, 1, {}}, {10, 3, 1, {}}};
  const auto copy = CopyStoredStrings(strings, Algorithm("XOR8"), mapped, 3);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->bytes, "secretxxxxx");
  ASSERT_EQ(copy->strings.size(), 3u);
  EXPECT_EQ(copy->strings[1].position, 6u);
  EXPECT_EQ(copy->strings[2].position, 8u);
  EXPECT_EQ(CopyStoredStrings(strings, Algorithm("XOR8W"), mapped)->bytes.size(), 12u + 6u);
  ASSERT_EQ(::ftruncate(fd, 100), 0);
  EXPECT_FALSE(CopyStoredStrings(strings, Algorithm("XOR8"), mapped));
  ::munmap(map, file.size());
  ::close(fd);
  ::unlink(path);
}

}  // namespace
}  // namespace veskor
