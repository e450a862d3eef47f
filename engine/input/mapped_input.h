// The input file, opened read-only and mapped whole for the length of one row, and the stamp
// that tells it apart from any other file later found at its name.
#pragma once

#include <cstdint>
#include <string>

namespace veskor {

// What recognises the file a run read. Size and modification time alone are not enough:
// `cp -p`, `rsync -t` and `tar x` give another file's bytes the old time. The device and inode
// name the file itself, its change time cannot be set by a user and moves at every write, and a
// hash of a few sampled blocks catches a write within one tick of the file system's clock.
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // nanoseconds since the epoch
  int64_t changed = 0;   // nanoseconds since the epoch
  uint64_t sample = 0;   // a hash of the first, the last and a few evenly spaced 4 KiB blocks
  bool operator==(const FileStamp&) const = default;
};

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
  // The mapped file's stamp, taken when it was opened.
  const FileStamp& stamp() const { return stamp_; }
  // Why Open failed, as an errno value: the open's, fstat's or mmap's, EISDIR for a folder; 0
  // where the system gave no reason (another kind of entry, a file of 0 bytes).
  int error_number() const { return error_number_; }

 private:
  int fd_ = -1;
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  FileStamp stamp_;
  int error_number_ = 0;
};

// The stamp of the file now at `path`, or {} when it is no regular file with bytes; a few
// reads, no mapping (a fault on a mapped page costs more than a read). Whatever re-reads a run's
// input compares this, or its mapping's stamp, with the run's: any difference means another
// file.
FileStamp StampOf(const std::string& path);

}  // namespace veskor
