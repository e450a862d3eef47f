// One entry of an ini file, read and written by our own rules: sections in square brackets,
// key=value lines, everything else in the file kept byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veskor {

// The longest value that ReadIniEntry gives back; longer values are cut to this many bytes.
inline constexpr size_t kIniValueLimit = 2047;

// An ini entry read by the rules of the settings file: section and key compared without regard
// to ASCII letter case, blanks (space, tab) around the key ignored, the value after the first
// '=' trimmed of spaces and tabs, one pair of matching quotes (" or ') removed when the value is
// at least two bytes long, the result cut to 2,047 bytes; `fallback` when the file is missing or
// unreadable, the section or the key is absent. Lines end with CR LF or LF alone. Where the same
// section or key appears twice, the first counts. Values are bytes, never converted.
std::string ReadIniEntry(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view fallback);

// Sets one entry, leaving every other byte of the file as it was: a missing file is created
// with "[section]" CR LF and "key=value" CR LF; a missing section is added at the end with the
// entry; a missing key is added at the end of its section (after the section's last non-blank
// line); an existing entry's line is replaced by key=value (the key spelled as in the file,
// nothing around the '=') on the same line, keeping that line's end. Where the same section or
// key appears twice, the first is changed. The file is replaced atomically; raises
// FileOperationError (files/file_operation_error.h), leaving the earlier file whole.
void WriteIniEntry(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value);

}  // namespace veskor
