// The input file, opened read-only and mapped whole for the length of one row.
#pragma once

#include <cstdint>
#include <string>

namespace veskor {

class MappedInput {
 public:
  enum class Result { kOk, kCannotOpen, kCannotMap, kCannotView };

  MappedInput() = default;
  ~MappedInput();
  MappedInput(const MappedInput&) = delete;
  MappedInput& operator=(const MappedInput&) = delete;

  // Only regular files are scanned: a directory, a FIFO or a device cannot be opened (a FIFO
  // would otherwise block until a writer came). A file of 0 bytes cannot be mapped.
  Result Open(const std::string& path);
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  // The file's last modification, in nanoseconds since the epoch.
  int64_t modified() const { return modified_; }

 private:
  int fd_ = -1;
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  int64_t modified_ = 0;
};

}  // namespace veskor
