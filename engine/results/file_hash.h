// The SHA-256 of a mapped input, by which a batch's records and a YARA rule's name know a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veskor {

// The lowercase hex SHA-256 of `size` mapped bytes at `data`; nothing when a read of the mapping
// faulted (the file shrank under it).
std::optional<std::string> Sha256Hex(const uint8_t* data, uint64_t size);

}  // namespace veskor
