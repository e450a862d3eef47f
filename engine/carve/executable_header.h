// Whether the decoded bytes at an offset begin a PE or ELF file whose headers hold together, and
// the file's size as its headers give it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/carve/byte_cipher.h"

namespace veskor {

enum class ExecutableFormat : uint8_t { kPe, kElf };

// "PE" or "ELF", as records name the format; ".exe" or ".elf" for a carved file's name.
std::string_view FormatName(ExecutableFormat format);
std::string_view FormatExtension(ExecutableFormat format);

// No header declares more than this: a size beyond it is noise that happened to pass the
// magic numbers, not a file.
inline constexpr uint64_t kMaxDeclaredSize = uint64_t{1} << 36;

struct ExecutableHeader {
  ExecutableFormat format = ExecutableFormat::kPe;
  // PE: the end of the last section's raw data, of the headers or of the certificate table,
  // whichever is largest. ELF: the end of the section header table, of the last segment or of
  // the last section with bytes in the file, whichever is largest. It may pass the file's end.
  uint64_t declared_size = 0;
};

// Reads the header at `offset` of the `size` bytes at `data` as `cipher` decodes them (each byte
// under the key of its own file offset). Nothing unless it is a PE (MZ, an e_lfanew that is not 0
// and lies in the file, "PE\0\0", a known machine, a PE32 or PE32+ optional header, 1 to 96
// sections whose table lies in the file, sizes and raw offsets below kMaxDeclaredSize) or an ELF
// (the magic, class 32 or 64, either byte order, version 1, a relocatable, executable, shared or
// core file of a known machine, its program header table in the file, tables of the right entry
// sizes, sizes below kMaxDeclaredSize). Reads the mapping: call it inside ReadMapped.
std::optional<ExecutableHeader> ReadExecutableHeader(const uint8_t* data, uint64_t size,
                                                     uint64_t offset, const ByteCipher& cipher);

// How many of the fields that ReadExecutableHeader leaves free hold as linkers write them
// (alignments, section names, types of segments and sections, the section name table), or -1
// when ReadExecutableHeader refuses the header. Of pairs that agree on every byte the checks read
// and differ elsewhere, the true one scores highest. Reads the mapping: call it inside
// ReadMapped.
int HeaderRegularity(const uint8_t* data, uint64_t size, uint64_t offset, const ByteCipher& cipher);

}  // namespace veskor
