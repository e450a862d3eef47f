// The whole-number syntax: any text is a 32-bit value or refused; a value's decimal form reads
// back as the same value. A key text under every algorithm is a key of its range or refused. A
// repeating key's text is a key of 2 to 32 bytes at its shortest period, whose hex and colon
// forms read back as the same key, or refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/decoding/algorithms.h"
#include "engine/decoding/xor_key.h"
#include "text/error.h"
#include "text/integer_syntax.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto value = veskor::ParseInteger(text);
  if (value) {
    const auto again = veskor::ParseInteger(std::to_string(*value));
    if (!again || *again != *value) std::abort();
  }
  static const bool filled = (veskor::FillAlgorithms(), true);
  (void)filled;
  for (const veskor::TAlgorithm& algorithm : veskor::Algorithms) {
    try {
      const int key = veskor::KeyOfText(algorithm, text, text);
      if (!value) std::abort();  // a text that is no number is never a key
      const int low = algorithm.ByteKey ? 0 : algorithm.FirstKey;
      const int high = algorithm.ByteKey ? 255 : algorithm.LastKey;
      if (key < low || key > high) std::abort();
    } catch (const veskor::ConversionError&) {
      if (value && algorithm.ByteKey) std::abort();  // a one-byte key takes any number
    }
  }
  try {
    const veskor::XorKey key = veskor::XorKeyOfText(text, text);
    if (key.size() < veskor::XorKey::kMinSize || key.size() > veskor::XorKey::kMaxSize) {
      std::abort();
    }
    const auto again = veskor::XorKey::Of(key.bytes());
    if (!again || *again != key) std::abort();  // held at its shortest period
    std::string colons;
    for (size_t i = 0; i < key.size(); ++i)
      colons += (i ? ":" : "") + key.Text().substr(2 + 2 * i, 2);
    if (veskor::XorKeyOfText(key.Text(), "") != key || veskor::XorKeyOfText(colons, "") != key) {
      std::abort();
    }
  } catch (const veskor::ConversionError&) {
  }
  return 0;
}
