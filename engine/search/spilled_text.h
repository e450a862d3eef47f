// A text too long to hold in memory, decoded into a temporary file instead.
#pragma once

#include <cstdint>

namespace veskor {

// Texts held in memory for the expression's test up to this length; a longer one is decoded
// into a temporary file instead.
inline constexpr uint64_t kHeldInMemoryBytes = uint64_t{64} << 20;

// A text too long to hold, decoded into an unlinked temporary file (in $TMPDIR, else /tmp) and
// read through its mapping.
class SpilledText {
 public:
  SpilledText() = default;
  ~SpilledText();
  SpilledText(const SpilledText&) = delete;
  SpilledText& operator=(const SpilledText&) = delete;
  // Room for `length` bytes; the previous text is released. Raises IoError ("Disk full", ...).
  char* Map(uint64_t length);

 private:
  void Release();
  void* data_ = nullptr;
  uint64_t length_ = 0;
  int fd_ = -1;
};

}  // namespace veskor
