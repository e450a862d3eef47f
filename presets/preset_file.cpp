// Loading and saving presets.dat.
#include "presets/preset_file.h"

#include <cstring>

#include "files/file_exists.h"
#include "files/file_operation_error.h"
#include "files/read_whole_file.h"
#include "files/replace_file.h"
#include "text/error.h"

namespace veskor {
namespace {

std::string PathMessage(const char* message_template, const std::string& path, int error_number) {
  return Substitute(Substitute(message_template, path), SystemErrorText(error_number));
}

}  // namespace

size_t LoadPresets(PresetList& list, const std::string& path) {
  list.ClearPresets();
  if (!FileExists(path)) return 0;
  std::string bytes;
  try {
    // Opened without sharing: the lock keeps another instance from saving it meanwhile.
    bytes = ReadWholeFile(path, /*exclusive=*/true);
  } catch (const FileOperationError& e) {
    if (e.stage() == FileOperationError::Stage::kRead) throw Error(kStreamReadErrorMessage);
    throw Error(PathMessage(kCannotOpenFileMessage, path, e.error_number()));
  }
  const size_t records = bytes.size() / sizeof(TPreset);
  for (size_t i = 0; i < records; ++i) {
    TPreset preset;
    std::memcpy(&preset, bytes.data() + i * sizeof(TPreset), sizeof(TPreset));
    list.Append(preset);
  }
  list.AnnounceChange();
  return bytes.size() % sizeof(TPreset);
}

void SavePresets(const PresetList& list, const std::string& path) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(list.Count()) * sizeof(TPreset));
  for (int i = 0; i < list.Count(); ++i) {
    bytes.append(reinterpret_cast<const char*>(&list.At(i)), sizeof(TPreset));
  }
  try {
    ReplaceFile(path, bytes);
  } catch (const FileOperationError& e) {
    if (e.stage() == FileOperationError::Stage::kWrite) {
      // The message does not name the file; the error carries it for whoever shows it.
      Error error(kStreamWriteErrorMessage);
      error.set_file(path);
      throw error;
    }
    throw Error(PathMessage(kCannotCreateFileMessage, path, e.error_number()));
  }
}

}  // namespace veskor
