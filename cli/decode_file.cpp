// The input mapped, the range checked against its size, and the decoded blocks written.
#include "cli/decode_file.h"

#include <cerrno>

#include "cli/batch_files.h"
#include "cli/options.h"
#include "engine/carve/range_decoder.h"
#include "engine/decoding/algorithms.h"
#include "engine/input/mapped_input.h"
#include "engine/run/analysis_run.h"
#include "engine/search/scan_context.h"
#include "engine/search/scan_input.h"
#include "files/file_operation_error.h"
#include "files/io_error.h"
#include "files/replace_file.h"
#include "files/write_fully.h"
#include "text/cp1251.h"

namespace veskor {

ByteCipher DecodeCipher(const std::string& name, const std::string& key,
                        const std::string& key_shown) {
  TAlgorithm algorithm;
  if (!FindAlgorithm(name, algorithm)) {
    std::string names;
    for (const TAlgorithm& a : Algorithms) names.append(" ").append(a.Name);
    throw UsageError("--algo: no algorithm is named \"" + Cp1251ToUtf8(name) +
                     "\"; the names (case-sensitive):" + names);
  }
  try {
    return ByteCipher::ForKey(algorithm, KeyOfText(algorithm, key, key_shown));
  } catch (const UsageError&) {
    throw;
  } catch (const Error& e) {
    throw UsageError(std::string("--key: ") + e.what());
  }
}

void DecodeFile(const DecodeRequest& request, const std::atomic<bool>& stop) {
  MappedInput input;
  const MappedInput::Result opened = input.Open(request.input);
  const auto about_input = [&](const char* message) {
    Error error(message);
    error.set_file(request.input);
    return error;
  };
  switch (opened) {
    case MappedInput::Result::kOk:
    case MappedInput::Result::kCannotMap:  // 0 bytes: nothing to decode
      break;
    case MappedInput::Result::kCannotOpen:
      throw about_input(kCannotOpenMessage);
    case MappedInput::Result::kCannotView:
      throw about_input(kCannotReadMessage);
  }
  const uint64_t size = input.size();
  const uint64_t end = request.end.value_or(size);
  if (request.start > size || end > size) {
    Error error("--range: " + std::to_string(request.start) + ":" + std::to_string(end) +
                " passes the file's end, " + std::to_string(size) + " bytes");
    error.set_file(request.input);
    throw error;
  }
  // A failed write ends the decoding there, its errno kept for the message.
  struct WriteFailed {
    int error_number;
  };
  const auto write = [&](int fd) {
    try {
      DecodeRange(
          input.data(), size, request.cipher, request.start, end,
          [&](std::span<const uint8_t> bytes) {
            if (stop.load()) throw Error(kStoppedMessage);
            if (!WriteFully(fd, std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                                 bytes.size()))) {
              throw WriteFailed{errno};
            }
          });
    } catch (const InputReadError&) {
      throw about_input(kCannotReadMessage);
    } catch (const WriteFailed& failed) {
      errno = failed.error_number;
      return false;
    }
    return true;
  };
  if (!request.output) {
    if (!write(request.out_fd)) throw IoErrorFromErrno(errno);
    return;
  }
  try {
    ReplaceFileWith(*request.output, write);
  } catch (const FileOperationError& e) {
    IoError error = IoErrorFromErrno(e.error_number());
    error.set_file(*request.output);
    throw error;
  }
}

}  // namespace veskor
