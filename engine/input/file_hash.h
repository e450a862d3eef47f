// The SHA-256 of a mapped input, by which a batch's records and a YARA rule's name know a file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace veskor {

// The lowercase hex SHA-256 of `size` mapped bytes at `data`; nothing when a read of the mapping
// faulted (the file shrank under it), or when `go_on` (asked between pieces of 16 MiB, when set)
// answered false: a deadline or a stop ends the hash of a large file as it ends a scan.
std::optional<std::string> Sha256Hex(const uint8_t* data, uint64_t size,
                                     const std::function<bool()>& go_on = nullptr);

}  // namespace veskor
