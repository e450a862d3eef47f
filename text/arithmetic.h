// Whole-number arithmetic that every floor of the house shares: how many pieces of a size a
// count fills.
#pragma once

#include <type_traits>

namespace veskor {

// The number of pieces of `size` that `count` fills, the last one maybe partly: count / size
// rounded up. Unsigned only, size at least 1, and count + size - 1 must not overflow.
template <class T>
constexpr T CeilDiv(T count, std::type_identity_t<T> size) {
  static_assert(std::is_unsigned_v<T>, "CeilDiv rounds unsigned counts");
  return (count + size - 1) / size;
}

}  // namespace veskor
