// The task table's error texts and the error it raises for an index that names no row or cell.
#pragma once

#include <string_view>

#include "text/error.h"

namespace veskor {

inline constexpr std::string_view kListIndexOutOfBoundsMessage = "List index out of bounds (%d)";
// Filled with the column, then the row.
inline constexpr std::string_view kCellOutOfBoundsMessage = "Cell out of bounds (%d, %d)";
inline constexpr std::string_view kInvalidFloatMessage = "'%s' is not a valid floating point value";

class OutOfBoundsError : public Error {
 public:
  using Error::Error;
};

}  // namespace veskor
