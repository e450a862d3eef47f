// The header checks on made PE and ELF files and on this test's own program, each case a file
// changed in one place: what must be refused, and what size the headers give.
#include "engine/carve/executable_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "engine/carve/test_executables.h"

namespace veskor {
namespace {

using test::Put;

std::optional<ExecutableHeader> Read(const std::string& file, uint64_t offset = 0) {
  return ReadExecutableHeader(reinterpret_cast<const uint8_t*>(file.data()), file.size(), offset,
                              ByteCipher());
}

// Reads `bytes` bytes at `at`, little-endian unless `big`.
uint64_t Get(const std::string& file, uint64_t at, int bytes, bool big = false) {
  uint64_t value = 0;
  for (int j = 0; j < bytes; ++j) {
    value = value << 8 | static_cast<uint8_t>(file[at + (big ? j : bytes - 1 - j)]);
  }
  return value;
}

struct Case {
  const char* name;
  std::function<void(std::string&)> change;
  int64_t expected;  // the declared size after the change, or kRefused
};
constexpr int64_t kRefused = -1;

void Check(const std::string& made, const Case& c, ExecutableFormat format) {
  std::string file = made;
  c.change(file);
  const std::optional<ExecutableHeader> header = Read(file);
  if (c.expected == kRefused) {
    EXPECT_FALSE(header) << c.name;
    return;
  }
  ASSERT_TRUE(header) << c.name;
  EXPECT_EQ(header->format, format) << c.name;
  EXPECT_EQ(header->declared_size, static_cast<uint64_t>(c.expected)) << c.name;
}

TEST(ExecutableHeader, PeFieldsOneAtATime) {
  for (const bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "PE32+" : "PE32");
    const std::string made = test::MakePe({.wide = wide, .sections = 4, .seed = 5});
    const auto whole = static_cast<int64_t>(made.size());
    const uint64_t pe = test::kPeOffset, optional = pe + 24;
    const uint64_t last = test::PeSectionEntry(wide, 3);
    const auto last_start = static_cast<int64_t>(Get(made, last + 20, 4));
    const Case cases[] = {
        {"as made", [](std::string&) {}, whole},
        {"a zero e_lfanew", [](std::string& f) { Put(f, 0x3C, 0, 4); }, kRefused},
        {"e_lfanew past the end", [](std::string& f) { Put(f, 0x3C, f.size() - 8, 4); }, kRefused},
        {"no PE signature", [&](std::string& f) { f[pe + 2] = 'x'; }, kRefused},
        {"an unknown machine", [&](std::string& f) { Put(f, pe + 4, 0x1234, 2); }, kRefused},
        {"no sections", [&](std::string& f) { Put(f, pe + 6, 0, 2); }, kRefused},
        {"97 sections", [&](std::string& f) { Put(f, pe + 6, 97, 2); }, kRefused},
        {"an optional header of another magic", [&](std::string& f) { Put(f, optional, 0x107, 2); },
         kRefused},
        {"an optional header too short", [&](std::string& f) { Put(f, pe + 20, 90, 2); }, kRefused},
        {"cut inside the MZ header", [](std::string& f) { f.resize(0x30); }, kRefused},
        {"cut inside the section table", [&](std::string& f) { f.resize(last + 20); }, kRefused},
        {"cut after the section table", [&](std::string& f) { f.resize(last + 40); }, whole},
        {"the last section's raw data past the end",
         [&](std::string& f) { Put(f, last + 16, 0x10000, 4); }, last_start + 0x10000},
        {"a raw offset that ends past 4 GiB",
         [&](std::string& f) { Put(f, last + 20, 0xFFFFFF00u, 4); }, kRefused},
        {"an empty section at any raw offset",
         [&](std::string& f) {
           Put(f, last + 16, 0, 4);
           Put(f, last + 20, 0xFFFFFF00u, 4);
         },
         last_start},
        {"headers larger than the file",
         [&](std::string& f) { Put(f, optional + 60, 0x100000, 4); }, 0x100000},
    };
    for (const Case& c : cases) Check(made, c, ExecutableFormat::kPe);
  }
}

TEST(ExecutableHeader, PeCertificateTableCounts) {
  const std::string signed_file = test::MakePe({.sections = 2, .certificate = 1000, .seed = 9});
  const std::optional<ExecutableHeader> header = Read(signed_file);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->declared_size, signed_file.size());
  // The same bytes with the certificate's directory cleared end with the last section.
  std::string unsigned_file = signed_file;
  Put(unsigned_file, test::kPeOffset + 24 + 96 + 32, 0, 8);
  EXPECT_EQ(Read(unsigned_file)->declared_size, signed_file.size() - 1000);
}

TEST(ExecutableHeader, ElfFieldsOneAtATime) {
  for (const bool wide : {false, true}) {
    for (const bool big : {false, true}) {
      SCOPED_TRACE(std::string(wide ? "ELF64" : "ELF32") + (big ? " big-endian" : ""));
      const std::string made = test::MakeElf({.wide = wide, .big = big, .seed = 11});
      const auto whole = static_cast<int64_t>(made.size());
      const int word = wide ? 8 : 4;
      const uint64_t header = wide ? 64 : 52, ph_entry = wide ? 56 : 32, sh_entry = wide ? 64 : 40;
      const uint64_t shoff_at = test::ElfShoffAt(wide), phoff_at = test::ElfPhoffAt(wide);
      const uint64_t phnum_at = test::ElfPhnumAt(wide), shnum_at = test::ElfShnumAt(wide);
      const uint64_t shstrndx_at = wide ? 62 : 50;
      const uint64_t table = made.size() - 5 * sh_entry;  // four sections and section 0
      // The second segment's end: the first section begins there.
      const uint64_t second = header + ph_entry;
      const auto second_size =
          static_cast<int64_t>(Get(made, second + (wide ? 32 : 16), word, big));
      const auto segments_end =
          static_cast<int64_t>(Get(made, second + (wide ? 8 : 4), word, big)) + second_size;
      const auto drop_sections = [&](std::string& f) {
        Put(f, shnum_at, 0, 2, big);
        Put(f, shoff_at, 0, word, big);
        Put(f, shstrndx_at, 0, 2, big);
      };
      const Case cases[] = {
          {"as made", [](std::string&) {}, whole},
          {"class 3", [](std::string& f) { f[4] = 3; }, kRefused},
          {"byte order 0", [](std::string& f) { f[5] = 0; }, kRefused},
          {"version 2", [](std::string& f) { f[6] = 2; }, kRefused},
          {"type 5", [&](std::string& f) { Put(f, 16, 5, 2, big); }, kRefused},
          {"an unknown machine", [&](std::string& f) { Put(f, 18, 0x7777, 2, big); }, kRefused},
          {"header version 0", [&](std::string& f) { Put(f, 20, 0, 4, big); }, kRefused},
          {"program headers of another size",
           [&](std::string& f) { Put(f, wide ? 54 : 42, ph_entry + 4, 2, big); }, kRefused},
          {"section headers of another size",
           [&](std::string& f) { Put(f, wide ? 58 : 46, sh_entry - 4, 2, big); }, kRefused},
          {"program headers past the end",
           [&](std::string& f) { Put(f, phoff_at, f.size() - 8, word, big); }, kRefused},
          {"an executable without program headers",
           [&](std::string& f) { Put(f, phnum_at, 0, 2, big); }, kRefused},
          {"a string table index past the sections",
           [&](std::string& f) { Put(f, shstrndx_at, 5, 2, big); }, kRefused},
          // Past 64 GiB is noise; of ELF32, the farthest offset is a file cut short.
          {"a segment at the farthest offset",
           [&](std::string& f) {
             Put(f, second + (wide ? 8 : 4), wide ? uint64_t{1} << 40 : 0xFFFFFFFF, word, big);
           },
           wide ? kRefused : int64_t{0xFFFFFFFF} + second_size},
          {"cut inside the header", [](std::string& f) { f.resize(30); }, kRefused},
          {"cut before the section header table", [&](std::string& f) { f.resize(table - 100); },
           whole},
          {"no section header table: the last segment ends the file", drop_sections, segments_end},
          {"a relocatable file without sections",
           [&](std::string& f) {
             drop_sections(f);
             Put(f, 16, 1, 2, big);
           },
           kRefused},
      };
      for (const Case& c : cases) Check(made, c, ExecutableFormat::kElf);
    }
  }
}

TEST(ExecutableHeader, ThisProgramIsAnElfOfItsOwnSize) {
  std::ifstream in("/proc/self/exe", std::ios::binary);
  const std::string self((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(self.size(), 1000u);
  const std::optional<ExecutableHeader> header = Read(self);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->format, ExecutableFormat::kElf);
  EXPECT_EQ(header->declared_size, self.size());
  // At an offset of a larger file, after bytes that are no header.
  const std::string inside = std::string(4096, 'M') + self + std::string(100, '\0');
  EXPECT_FALSE(Read(inside, 4095));
  EXPECT_EQ(Read(inside, 4096)->declared_size, self.size());
}

}  // namespace
}  // namespace veskor
