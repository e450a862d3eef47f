// The whole-number syntax: any text is a 32-bit value or refused; a value's decimal form reads
// back as the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/integer_syntax.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto value =
      veskor::ParseInteger(std::string_view(reinterpret_cast<const char*>(data), size));
  if (value) {
    const auto again = veskor::ParseInteger(std::to_string(*value));
    if (!again || *again != *value) std::abort();
  }
  return 0;
}
