// The PE and ELF headers read through a cipher, every field bounded before it is used: a header
// found under a guessed key is as likely noise as a file, and noise must cost a few reads.
#include "engine/carve/executable_header.h"

#include <algorithm>
#include <array>

namespace veskor {
namespace {

// The decoded bytes from the header's first byte to the file's end.
class Decoded {
 public:
  Decoded(const uint8_t* data, uint64_t size, uint64_t offset, const ByteCipher& cipher)
      : data_(data), offset_(offset), available_(size - offset), cipher_(cipher) {}
  uint64_t available() const { return available_; }
  // Whether `count` bytes from `at` (relative to the header) lie in the file.
  bool Has(uint64_t at, uint64_t count) const {
    return at <= available_ && count <= available_ - at;
  }
  uint8_t Byte(uint64_t at) const { return cipher_.At(data_, offset_ + at); }
  // A little- or big-endian number of `bytes` bytes; the caller has checked Has().
  uint64_t Number(uint64_t at, int bytes, bool big_endian = false) const {
    uint64_t value = 0;
    for (int j = 0; j < bytes; ++j) {
      const uint64_t byte = Byte(at + static_cast<uint64_t>(big_endian ? j : bytes - 1 - j));
      value = value << 8 | byte;
    }
    return value;
  }

 private:
  const uint8_t* data_;
  uint64_t offset_;
  uint64_t available_;
  const ByteCipher& cipher_;
};

// The end of `count` bytes from `start`, or nothing when it passes `limit`.
std::optional<uint64_t> End(uint64_t start, uint64_t count, uint64_t limit = kMaxDeclaredSize) {
  if (start > limit || count > limit - start) return std::nullopt;
  return start + count;
}

constexpr std::array<uint16_t, 35> kPeMachines = {
    0x014C, 0x0162, 0x0166, 0x0168, 0x0169, 0x0184, 0x01A2, 0x01A3, 0x01A6, 0x01A8, 0x01C0, 0x01C2,
    0x01C4, 0x01D3, 0x01F0, 0x01F1, 0x0200, 0x0266, 0x0284, 0x0366, 0x0466, 0x0520, 0x0CEF, 0x0EBC,
    0x5032, 0x5064, 0x5128, 0x6232, 0x6264, 0x8664, 0x9041, 0xA641, 0xA64E, 0xAA64, 0xC0EE};

constexpr std::array<uint16_t, 30> kElfMachines = {
    2,  3,  4,  8,  10,  15,  18,  20,  21,  22,  40,  42,  43,  50,  62,
    83, 88, 92, 94, 105, 106, 113, 164, 183, 189, 195, 243, 247, 252, 258};

template <size_t N>
bool Known(const std::array<uint16_t, N>& machines, uint64_t machine) {
  return std::find(machines.begin(), machines.end(), machine) != machines.end();
}

constexpr uint64_t kPeMaxSections = 96;
constexpr uint64_t kPeSectionSize = 40;
constexpr uint64_t kPe32Magic = 0x10B, kPe64Magic = 0x20B;
constexpr uint64_t kPeSecurityDirectory = 4;
// Every offset and size of a PE is 32 bits: a file that ends past 4 GiB is noise.
constexpr uint64_t kPeMaxSize = uint64_t{1} << 32;

std::optional<ExecutableHeader> ReadPe(const Decoded& in) {
  if (!in.Has(0, 0x40) || in.Byte(0) != 'M' || in.Byte(1) != 'Z') return std::nullopt;
  const uint64_t pe = in.Number(0x3C, 4);
  // The PE header's signature and file header (24 bytes) must lie in the file.
  if (pe == 0 || !in.Has(pe, 24)) return std::nullopt;
  if (in.Byte(pe) != 'P' || in.Byte(pe + 1) != 'E' || in.Byte(pe + 2) != 0 ||
      in.Byte(pe + 3) != 0) {
    return std::nullopt;
  }
  const uint64_t machine = in.Number(pe + 4, 2);
  const uint64_t sections = in.Number(pe + 6, 2);
  const uint64_t optional_size = in.Number(pe + 20, 2);
  if (!Known(kPeMachines, machine) || sections == 0 || sections > kPeMaxSections) {
    return std::nullopt;
  }
  const uint64_t optional = pe + 24;
  if (!in.Has(optional, optional_size) || optional_size < 2) return std::nullopt;
  const uint64_t magic = in.Number(optional, 2);
  // The fixed part before the data directories: 96 bytes of PE32, 112 of PE32+.
  const uint64_t fixed = magic == kPe32Magic ? 96 : magic == kPe64Magic ? 112 : 0;
  if (fixed == 0 || optional_size < fixed) return std::nullopt;
  const uint64_t table = optional + optional_size;
  if (!in.Has(table, sections * kPeSectionSize)) return std::nullopt;
  const uint64_t headers_size = in.Number(optional + 60, 4);
  uint64_t size = std::max(table + sections * kPeSectionSize, headers_size);
  if (size > kPeMaxSize) return std::nullopt;
  for (uint64_t s = 0; s < sections; ++s) {
    const uint64_t entry = table + s * kPeSectionSize;
    const uint64_t raw_size = in.Number(entry + 16, 4);
    const uint64_t raw_start = in.Number(entry + 20, 4);
    if (raw_size == 0) continue;
    const std::optional<uint64_t> end = End(raw_start, raw_size, kPeMaxSize);
    if (!end) return std::nullopt;
    size = std::max(size, *end);
  }
  // The certificate table lies after the sections, at a file offset: a signed file keeps its
  // signature. A directory the optional header has no room for is not there.
  const uint64_t directories = in.Number(optional + fixed - 4, 4);
  const uint64_t security = optional + fixed + kPeSecurityDirectory * 8;
  if (directories > kPeSecurityDirectory && security + 8 <= table) {
    const uint64_t start = in.Number(security, 4), length = in.Number(security + 4, 4);
    const std::optional<uint64_t> end = End(start, length, kPeMaxSize);
    if (start != 0 && length != 0 && start >= size && end) size = *end;
  }
  return ExecutableHeader{ExecutableFormat::kPe, size};
}

// The fields of an ELF header that tell its tables apart, at their places in either class.
struct ElfLayout {
  int word;  // bytes of an address or offset: 4 or 8
  uint64_t header_size, phoff, shoff, phentsize, phnum, shentsize, shnum, shstrndx;
  uint64_t ph_entry, sh_entry;                    // the size of a program and a section header
  uint64_t p_offset, p_filesz;                    // in a program header
  uint64_t sh_type, sh_offset, sh_size, sh_info;  // in a section header
};
constexpr ElfLayout kElf32 = {4, 52, 28, 32, 42, 44, 46, 48, 50, 32, 40, 4, 16, 4, 16, 20, 28};
constexpr ElfLayout kElf64 = {8, 64, 32, 40, 54, 56, 58, 60, 62, 56, 64, 8, 32, 4, 24, 32, 44};

constexpr uint64_t kElfRelocatable = 1, kElfCore = 4;
constexpr uint64_t kElfNoBits = 8;               // a section with no bytes in the file
constexpr uint64_t kElfManyHeaders = 0xFFFF;     // the count is in section 0's sh_info
constexpr uint64_t kElfIndexElsewhere = 0xFFFF;  // the string table's index is in section 0
// Tables longer than this are not read entry by entry: a hostile file could point thousands of
// headers at one huge table.
constexpr uint64_t kElfMaxEntriesRead = 4096;

std::optional<ExecutableHeader> ReadElf(const Decoded& in) {
  if (!in.Has(0, 16) || in.Byte(0) != 0x7F || in.Byte(1) != 'E' || in.Byte(2) != 'L' ||
      in.Byte(3) != 'F') {
    return std::nullopt;
  }
  const uint8_t elf_class = in.Byte(4), order = in.Byte(5);
  if ((elf_class != 1 && elf_class != 2) || (order != 1 && order != 2) || in.Byte(6) != 1) {
    return std::nullopt;
  }
  const ElfLayout& l = elf_class == 1 ? kElf32 : kElf64;
  const bool big = order == 2;
  if (!in.Has(0, l.header_size)) return std::nullopt;
  auto field = [&](uint64_t at, int bytes) { return in.Number(at, bytes, big); };
  const uint64_t type = field(16, 2), machine = field(18, 2), version = field(20, 4);
  if (type < kElfRelocatable || type > kElfCore || !Known(kElfMachines, machine) || version != 1) {
    return std::nullopt;
  }
  const uint64_t phoff = field(l.phoff, l.word), shoff = field(l.shoff, l.word);
  const uint64_t phentsize = field(l.phentsize, 2), shentsize = field(l.shentsize, 2);
  uint64_t phnum = field(l.phnum, 2), shnum = field(l.shnum, 2);
  uint64_t shstrndx = field(l.shstrndx, 2);
  if (shoff != 0 && shentsize != l.sh_entry) return std::nullopt;
  // Section 0 holds the counts that do not fit the header's 16 bits.
  const bool first_section = shoff != 0 && in.Has(shoff, l.sh_entry);
  if (shoff != 0 && shnum == 0) {
    if (!first_section) return std::nullopt;
    shnum = field(shoff + l.sh_size, l.word);
  }
  if (phnum == kElfManyHeaders) {
    if (!first_section) return std::nullopt;
    phnum = field(shoff + l.sh_info, 4);
  }
  if (shstrndx == kElfIndexElsewhere && first_section) shstrndx = 0;
  // Section 0 is the null section: no name, type, flags, address or place of its own. A header
  // written into another program's data as a template has no section table behind it.
  if (first_section) {
    const uint64_t zero = shoff;
    if (field(zero, 4) != 0 || field(zero + l.sh_type, 4) != 0 ||
        field(zero + l.sh_type + 4, l.word) != 0 ||
        field(zero + l.sh_type + 4 + l.word, l.word) != 0 ||
        field(zero + l.sh_offset, l.word) != 0) {
      return std::nullopt;
    }
  }
  // Loadable files and cores have program headers; relocatable files have sections.
  if (type == kElfRelocatable ? shnum == 0 : phnum == 0) return std::nullopt;
  if (shnum != 0 && (shoff == 0 || shstrndx >= shnum)) return std::nullopt;
  if (phnum != 0 && (phentsize != l.ph_entry || phnum > kElfMaxEntriesRead)) return std::nullopt;
  uint64_t size = l.header_size;
  if (phnum != 0) {
    const std::optional<uint64_t> end = End(phoff, phnum * l.ph_entry);
    if (!end || !in.Has(phoff, phnum * l.ph_entry)) return std::nullopt;
    size = std::max(size, *end);
    for (uint64_t p = 0; p < phnum; ++p) {
      const uint64_t entry = phoff + p * l.ph_entry;
      const uint64_t filesz = field(entry + l.p_filesz, l.word);
      if (filesz == 0) continue;
      const std::optional<uint64_t> segment_end = End(field(entry + l.p_offset, l.word), filesz);
      if (!segment_end) return std::nullopt;
      size = std::max(size, *segment_end);
    }
  }
  if (shnum != 0) {
    // The section header table may lie past the file's end: the file was cut there.
    const std::optional<uint64_t> end =
        shnum <= kMaxDeclaredSize / l.sh_entry ? End(shoff, shnum * l.sh_entry) : std::nullopt;
    if (!end || shoff < l.header_size) return std::nullopt;
    size = std::max(size, *end);
    if (shnum <= kElfMaxEntriesRead && in.Has(shoff, shnum * l.sh_entry)) {
      for (uint64_t s = 1; s < shnum; ++s) {
        const uint64_t entry = shoff + s * l.sh_entry;
        if (field(entry + l.sh_type, 4) == kElfNoBits) continue;
        const uint64_t length = field(entry + l.sh_size, l.word);
        if (length == 0) continue;
        const std::optional<uint64_t> section_end = End(field(entry + l.sh_offset, l.word), length);
        if (!section_end) return std::nullopt;
        size = std::max(size, *section_end);
      }
    }
  }
  return ExecutableHeader{ExecutableFormat::kElf, size};
}

bool PowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// The fields that the checks above leave free, counted where they hold as linkers write them.
int PeRegularity(const Decoded& in) {
  const uint64_t pe = in.Number(0x3C, 4);
  const uint64_t sections = in.Number(pe + 6, 2), optional = pe + 24;
  const uint64_t table = optional + in.Number(pe + 20, 2);
  const uint64_t fixed = in.Number(optional, 2) == kPe64Magic ? 112 : 96;
  const uint64_t section_alignment = in.Number(optional + 32, 4);
  const uint64_t file_alignment = in.Number(optional + 36, 4);
  const uint64_t image_size = in.Number(optional + 56, 4);
  const uint64_t subsystem = in.Number(optional + 68, 2);
  int score = 0;
  score += PowerOfTwo(file_alignment) && file_alignment <= 0x10000;
  score += PowerOfTwo(section_alignment) && section_alignment >= file_alignment;
  score += PowerOfTwo(file_alignment) && in.Number(optional + 60, 4) % file_alignment == 0;
  score += PowerOfTwo(section_alignment) && image_size % section_alignment == 0;
  score += subsystem >= 1 && subsystem <= 16 && subsystem != 4 && subsystem != 6;
  const uint64_t directories = std::min<uint64_t>(in.Number(optional + fixed - 4, 4), 16);
  for (uint64_t d = 0; d < directories && optional + fixed + 8 * d + 8 <= table; ++d) {
    const uint64_t place = in.Number(optional + fixed + 8 * d, 4);
    const uint64_t length = in.Number(optional + fixed + 8 * d + 4, 4);
    score += (place == 0) == (length == 0);
  }
  const uint64_t entry_point = in.Number(optional + 16, 4);
  uint64_t previous = 0, next_raw = 0, image_end = 0;
  bool entry_inside = entry_point == 0;
  for (uint64_t s = 0; s < sections; ++s) {
    const uint64_t entry = table + s * kPeSectionSize;
    bool name = true, ended = false;
    for (uint64_t j = 0; j < 8; ++j) {
      const uint8_t c = in.Byte(entry + j);
      ended = ended || c == 0;
      name = name && (ended ? c == 0 : c >= 0x20 && c < 0x7F);
    }
    const uint64_t virtual_size = in.Number(entry + 8, 4), address = in.Number(entry + 12, 4);
    const uint64_t raw_size = in.Number(entry + 16, 4), raw_start = in.Number(entry + 20, 4);
    score += name;
    score += PowerOfTwo(section_alignment) && address % section_alignment == 0;
    score += address > previous;
    score += PowerOfTwo(file_alignment) && raw_size % file_alignment == 0;
    score += PowerOfTwo(file_alignment) && raw_start % file_alignment == 0;
    score += (in.Number(entry + 36, 4) & 0xE0) != 0;  // code, data or zeroed data
    // Raw data follows raw data, and holds the section's bytes up to the file alignment.
    score += raw_size == 0 || s == 0 || raw_start == next_raw;
    score += raw_size == 0 || virtual_size == 0 || virtual_size <= raw_size ||
             (PowerOfTwo(file_alignment) &&
              (virtual_size + file_alignment - 1) / file_alignment * file_alignment >= raw_size);
    entry_inside = entry_inside || (entry_point >= address && entry_point - address < virtual_size);
    if (raw_size != 0) next_raw = raw_start + raw_size;
    image_end = std::max(image_end, address + std::max(virtual_size, raw_size));
    previous = address;
  }
  score += entry_inside;
  score +=
      PowerOfTwo(section_alignment) &&
      (image_end + section_alignment - 1) / section_alignment * section_alignment == image_size;
  return score;
}

int ElfRegularity(const Decoded& in) {
  const ElfLayout& l = in.Byte(4) == 1 ? kElf32 : kElf64;
  const bool big = in.Byte(5) == 2;
  auto field = [&](uint64_t at, int bytes) { return in.Number(at, bytes, big); };
  const uint64_t phoff = field(l.phoff, l.word), shoff = field(l.shoff, l.word);
  const uint64_t phnum = field(l.phnum, 2), shnum = field(l.shnum, 2);
  int score = field(l.phentsize - 2, 2) == l.header_size;  // e_ehsize
  const auto known_type = [](uint64_t type, uint64_t common) {
    return type <= common || type >= 0x60000000;  // the common types, or an OS or CPU's own
  };
  if (phnum != kElfManyHeaders && in.Has(phoff, phnum * l.ph_entry)) {
    for (uint64_t p = 0; p < std::min(phnum, kElfMaxEntriesRead); ++p) {
      const uint64_t entry = phoff + p * l.ph_entry;
      const uint64_t type = field(entry, 4);
      const uint64_t align = field(entry + (l.word == 8 ? 48 : 28), l.word);
      const uint64_t offset = field(entry + l.p_offset, l.word);
      const uint64_t address = field(entry + l.p_offset + l.word, l.word);
      score += known_type(type, 8);
      score += align == 0 || PowerOfTwo(align);
      score += PowerOfTwo(align) && (offset - address) % align == 0;
      score += field(entry + l.p_filesz, l.word) <= field(entry + l.p_filesz + l.word, l.word);
    }
  }
  if (shoff == 0 || shnum == 0 || shnum > kElfMaxEntriesRead ||
      !in.Has(shoff, shnum * l.sh_entry)) {
    return score;
  }
  const uint64_t names_entry = shoff + field(l.shstrndx, 2) % shnum * l.sh_entry;
  const uint64_t names = field(names_entry + l.sh_offset, l.word);
  const uint64_t names_size = field(names_entry + l.sh_size, l.word);
  const bool wide = l.word == 8;
  for (uint64_t s = 1; s < shnum; ++s) {
    const uint64_t entry = shoff + s * l.sh_entry;
    const uint64_t type = field(entry + l.sh_type, 4);
    const uint64_t address = field(entry + l.sh_type + 4 + l.word, l.word);
    const uint64_t offset = field(entry + l.sh_offset, l.word);
    const uint64_t link = field(entry + l.sh_offset + 2 * l.word, 4);
    const uint64_t align = field(entry + l.sh_offset + 2 * l.word + 8, l.word);
    const uint64_t entry_size = field(entry + l.sh_offset + 3 * l.word + 8, l.word);
    score += known_type(type, 19);
    score += align == 0 || PowerOfTwo(align);
    score += PowerOfTwo(align) && address % align == 0;
    score += PowerOfTwo(align) && (type == kElfNoBits || offset % align == 0);
    score += field(entry, 4) < names_size;
    score += link < shnum;
    // The tables of fixed entries: symbols, relocations with and without addends, dynamic tags.
    const uint64_t expected = type == 2 || type == 11 ? (wide ? 24 : 16)
                              : type == 4             ? (wide ? 24 : 12)
                              : type == 9             ? (wide ? 16 : 8)
                              : type == 6             ? (wide ? 16 : 8)
                                                      : entry_size;
    score += entry_size == expected;
  }
  // The section names: NUL first, then printable names each ended by a NUL.
  if (names_size != 0 && in.Has(names, names_size)) {
    score += in.Byte(names) == 0;
    for (uint64_t j = 1; j < std::min<uint64_t>(names_size, 4096); ++j) {
      const uint8_t c = in.Byte(names + j);
      score += c == 0 || (c >= 0x20 && c < 0x7F);
    }
  }
  return score;
}

}  // namespace

int HeaderRegularity(const uint8_t* data, uint64_t size, uint64_t offset,
                     const ByteCipher& cipher) {
  if (!ReadExecutableHeader(data, size, offset, cipher)) return -1;
  const Decoded in(data, size, offset, cipher);
  return in.Byte(0) == 'M' ? PeRegularity(in) : ElfRegularity(in);
}

std::string_view FormatName(ExecutableFormat format) {
  return format == ExecutableFormat::kPe ? "PE" : "ELF";
}

std::string_view FormatExtension(ExecutableFormat format) {
  return format == ExecutableFormat::kPe ? ".exe" : ".elf";
}

std::optional<ExecutableHeader> ReadExecutableHeader(const uint8_t* data, uint64_t size,
                                                     uint64_t offset, const ByteCipher& cipher) {
  if (offset >= size) return std::nullopt;
  const Decoded in(data, size, offset, cipher);
  const uint8_t first = in.Byte(0);
  if (first == 'M') return ReadPe(in);
  if (first == 0x7F) return ReadElf(in);
  return std::nullopt;
}

}  // namespace veskor
