// --decode: the decoded bytes of one file, or of a range of it, to standard output or to a file
// replaced whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/carve/byte_cipher.h"

namespace veskor {

// The pair of --algo NAME and --key TEXT as a decoding; UsageError when NAME is no algorithm
// (naming those there are) or TEXT is no key of it (the key's own message).
ByteCipher DecodeCipher(const std::string& algorithm, const std::string& key,
                        const std::string& key_shown);

struct DecodeRequest {
  std::string input;  // file-system bytes
  ByteCipher cipher;
  uint64_t start = 0;
  std::optional<uint64_t> end;        // excluded; none: the file's end
  std::optional<std::string> output;  // a path; none: `out_fd`
  int out_fd = 1;
};

// Writes the decoded bytes, each under the key of its own file offset, so that a range decodes
// as it does inside the whole. Throws Error with the message for the user: the input cannot be
// read, the range passes its end, a write failed, or `stop` was set (a signal); what went to a
// path is then removed and the file there before stays as it was.
void DecodeFile(const DecodeRequest& request, const std::atomic<bool>& stop);

}  // namespace veskor
