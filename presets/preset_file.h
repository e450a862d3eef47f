// presets.dat: the presets' 770-byte records back to back, in list order, nothing else.
#pragma once

#include <string>

#include "presets/preset_list.h"

namespace veskor {

inline constexpr const char* kPresetFileName = "presets.dat";
inline constexpr const char* kCannotOpenFileMessage = "Cannot open file \"%s\". %s";
inline constexpr const char* kCannotCreateFileMessage = "Cannot create file \"%s\". %s";
inline constexpr const char* kStreamReadErrorMessage = "Stream read error";
inline constexpr const char* kStreamWriteErrorMessage = "Stream write error";

// Replaces the list by the file's records (a trailing piece shorter than a record is ignored)
// and announces the change whenever the file exists. Without a file the list stays empty and
// nothing is announced. Raises "Cannot open file ..." or "Stream read error". Returns the bytes
// of the trailing piece: 0 when the file held whole records only.
size_t LoadPresets(PresetList& list, const std::string& path);

// Writes every record; an empty list gives a file of 0 bytes. The file is replaced atomically,
// so a failure leaves the earlier file whole. Raises "Cannot create file ..." or "Stream write
// error" (whose error names the file: Error::file()).
void SavePresets(const PresetList& list, const std::string& path);

}  // namespace veskor
