// Writing every byte to a descriptor, the one way the program writes its files, with the seam
// that lets a test make a write fail like a full disk.
#pragma once

#include <cstddef>
#include <string_view>

namespace veskor {

// Writes every byte to fd, retrying after interruptions; false with errno set on failure.
// Every file the program writes goes through here, so a test can make it fail like a full disk.
bool WriteFully(int fd, std::string_view bytes);

namespace test {
// Makes the next WriteFully fail with `error_number` after `bytes_before` bytes, to test what
// a full disk does to each file and to a log.
void FailNextWrite(int error_number, size_t bytes_before = 0);
}  // namespace test

}  // namespace veskor
