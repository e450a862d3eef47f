// Test and bench helper: small PE and ELF files made from a seed, whole and valid, with the
// places of the fields that the header tests change.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace veskor::test {

// Writes `value` as `bytes` bytes at `at`, little-endian unless `big`.
inline void Put(std::string& file, uint64_t at, uint64_t value, int bytes, bool big = false) {
  if (file.size() < at + bytes) file.resize(at + bytes, '\0');
  for (int j = 0; j < bytes; ++j) {
    const int shift = 8 * (big ? bytes - 1 - j : j);
    file[at + j] = static_cast<char>(value >> shift);
  }
}

// Seeded contents of the kinds a program's sections hold: code-like bytes, runs of zeros, text.
inline std::string SectionBytes(std::mt19937_64& rng, size_t size) {
  std::string bytes(size, '\0');
  size_t at = 0;
  while (at < size) {
    const size_t run = std::min<size_t>(size - at, 16 + rng() % 512);
    switch (rng() % 3) {
      case 0:
        for (size_t j = 0; j < run; ++j) bytes[at + j] = static_cast<char>(rng());
        break;
      case 1:
        break;  // zeros
      default:
        for (size_t j = 0; j < run; ++j) bytes[at + j] = static_cast<char>('a' + rng() % 26);
        break;
    }
    at += run;
  }
  return bytes;
}

inline constexpr uint64_t kPeOffset = 0x80;  // e_lfanew of every made PE

struct PeShape {
  bool wide = false;  // PE32+ for x86-64, else PE32 for i386
  int sections = 3;
  uint32_t file_alignment = 0x200;
  uint32_t certificate = 0;  // bytes of a certificate table after the sections
  uint64_t seed = 1;
};

// The place of the section table, and of a section's entry in it.
inline uint64_t PeSectionTable(bool wide) { return kPeOffset + 24 + (wide ? 240 : 224); }
inline uint64_t PeSectionEntry(bool wide, int s) { return PeSectionTable(wide) + 40 * s; }

inline std::string MakePe(const PeShape& shape) {
  std::mt19937_64 rng(shape.seed);
  const auto align = [&](uint64_t v) {
    return (v + shape.file_alignment - 1) / shape.file_alignment * shape.file_alignment;
  };
  std::string file;
  Put(file, 0, 'M' | 'Z' << 8, 2);
  Put(file, 0x02, 0x90, 2);
  Put(file, 0x04, 3, 2);
  Put(file, 0x08, 4, 2);
  Put(file, 0x0C, 0xFFFF, 2);
  Put(file, 0x10, 0xB8, 2);
  Put(file, 0x18, 0x40, 2);
  Put(file, 0x3C, kPeOffset, 4);
  const char stub[] = "This program needs a newer system.\r\r\n$";
  file.resize(kPeOffset, '\0');
  file.replace(0x4E, sizeof stub - 1, stub);
  Put(file, kPeOffset, 'P' | 'E' << 8, 4);
  const uint64_t coff = kPeOffset + 4;
  Put(file, coff, shape.wide ? 0x8664 : 0x14C, 2);
  Put(file, coff + 2, static_cast<uint64_t>(shape.sections), 2);
  Put(file, coff + 4, rng() & 0xFFFFFFFF, 4);
  Put(file, coff + 16, shape.wide ? 240 : 224, 2);
  Put(file, coff + 18, shape.wide ? 0x22 : 0x102, 2);
  const uint64_t optional = coff + 20;
  const uint64_t fixed = shape.wide ? 112 : 96;
  Put(file, optional, shape.wide ? 0x20B : 0x10B, 2);
  Put(file, optional + 32, 0x1000, 4);  // SectionAlignment
  Put(file, optional + 36, shape.file_alignment, 4);
  Put(file, optional + 40, 6, 2);  // OS version
  Put(file, optional + 48, 6, 2);  // subsystem version
  Put(file, optional + 68, 3, 2);  // console
  Put(file, optional + fixed - 4, 16, 4);
  const uint64_t table = PeSectionTable(shape.wide);
  const uint64_t headers = align(table + 40 * static_cast<uint64_t>(shape.sections));
  Put(file, optional + 60, headers, 4);
  file.resize(headers, '\0');
  static const char* kNames[] = {".text", ".rdata", ".data", ".rsrc", ".reloc", ".pdata"};
  uint64_t virtual_address = 0x1000;
  for (int s = 0; s < shape.sections; ++s) {
    const uint64_t entry = PeSectionEntry(shape.wide, s);
    const char* name = kNames[s % 6];
    std::memcpy(&file[entry], name, std::strlen(name));
    const uint64_t used = 64 + rng() % 6000;
    Put(file, entry + 8, used, 4);
    Put(file, entry + 12, virtual_address, 4);
    Put(file, entry + 16, align(used), 4);
    Put(file, entry + 20, file.size(), 4);
    Put(file, entry + 36, s == 0 ? 0x60000020u : 0xC0000040u, 4);
    std::string bytes = SectionBytes(rng, used);
    bytes.resize(align(used), '\0');
    file += bytes;
    virtual_address += (used + 0xFFF) / 0x1000 * 0x1000;
  }
  Put(file, optional + 56, virtual_address, 4);  // SizeOfImage
  if (shape.certificate != 0) {
    const uint64_t directory = optional + fixed + 4 * 8;
    Put(file, directory, file.size(), 4);
    Put(file, directory + 4, shape.certificate, 4);
    std::string certificate = SectionBytes(rng, shape.certificate);
    Put(certificate, 0, shape.certificate, 4);
    Put(certificate, 4, 0x0200, 2);
    Put(certificate, 6, 2, 2);
    file += certificate;
  }
  return file;
}

struct ElfShape {
  bool wide = true;  // ELFCLASS64, else ELFCLASS32
  bool big = false;  // big-endian
  int segments = 2;
  int sections = 4;  // besides section 0
  uint16_t type = 2;
  uint64_t seed = 1;
};

// The places of the header's fields in either class.
inline uint64_t ElfPhoffAt(bool wide) { return wide ? 32 : 28; }
inline uint64_t ElfShoffAt(bool wide) { return wide ? 40 : 32; }
inline uint64_t ElfPhnumAt(bool wide) { return wide ? 56 : 44; }
inline uint64_t ElfShnumAt(bool wide) { return wide ? 60 : 48; }

// The ELF header, the program headers, the segments' bytes, the sections' bytes, and the section
// header table last, as linkers lay a file out.
inline std::string MakeElf(const ElfShape& shape) {
  std::mt19937_64 rng(shape.seed);
  const bool w = shape.wide, big = shape.big;
  const int word = w ? 8 : 4;
  const uint64_t header = w ? 64 : 52, ph_entry = w ? 56 : 32, sh_entry = w ? 64 : 40;
  std::string file =
      "\x7F"
      "ELF";
  Put(file, 4, w ? 2 : 1, 1);
  Put(file, 5, big ? 2 : 1, 1);
  Put(file, 6, 1, 1);
  Put(file, 16, shape.type, 2, big);
  Put(file, 18, w ? 62 : 3, 2, big);
  Put(file, 20, 1, 4, big);
  Put(file, w ? 52 : 40, header, 2, big);
  Put(file, w ? 54 : 42, ph_entry, 2, big);
  Put(file, ElfPhnumAt(w), static_cast<uint64_t>(shape.segments), 2, big);
  Put(file, w ? 58 : 46, sh_entry, 2, big);
  const uint64_t sections = shape.sections > 0 ? static_cast<uint64_t>(shape.sections) + 1 : 0;
  Put(file, ElfShnumAt(w), sections, 2, big);
  Put(file, w ? 62 : 50, sections > 0 ? sections - 1 : 0, 2, big);
  file.resize(header, '\0');
  if (shape.segments > 0) Put(file, ElfPhoffAt(w), header, word, big);
  const uint64_t phoff = header;
  file.resize(phoff + ph_entry * static_cast<uint64_t>(shape.segments), '\0');
  for (int p = 0; p < shape.segments; ++p) {
    const uint64_t entry = phoff + ph_entry * static_cast<uint64_t>(p);
    const uint64_t size = 32 + rng() % 3000;
    Put(file, entry, 1, 4, big);  // PT_LOAD
    Put(file, entry + (w ? 8 : 4), file.size(), word, big);
    Put(file, entry + (w ? 32 : 16), size, word, big);
    Put(file, entry + (w ? 40 : 20), size, word, big);
    file += SectionBytes(rng, size);
  }
  std::string table(sh_entry * sections, '\0');
  for (uint64_t s = 1; s < sections; ++s) {
    const uint64_t size = 16 + rng() % 2000;
    const uint64_t entry = sh_entry * s;
    Put(table, entry + 4, s + 1 == sections ? 3 : 1, 4, big);  // the last: a string table
    Put(table, entry + (w ? 24 : 16), file.size(), word, big);
    Put(table, entry + (w ? 32 : 20), size, word, big);
    file += SectionBytes(rng, size);
  }
  if (sections > 0) {
    Put(file, ElfShoffAt(w), file.size(), word, big);
    file += table;
  }
  return file;
}

}  // namespace veskor::test
