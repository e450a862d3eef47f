// Where report lines are written: a growable byte buffer, a sink for lines streamed in pieces, and
// the sources a line's string is read from when it is too long to hold or written in place.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>

namespace veskor {

// A growable byte buffer whose growth leaves the new bytes unset, so that a line can be written
// in place without first being filled with zeros (a run formats millions of lines).
class LineBuffer {
 public:
  LineBuffer() = default;
  LineBuffer(LineBuffer&&) noexcept = default;
  LineBuffer& operator=(LineBuffer&&) noexcept = default;

  // Room for `count` more bytes at the end; returns where they start. The size stays until
  // Commit.
  char* Extend(size_t count) {
    if (capacity_ - size_ < count) Grow(count);
    return data_.get() + size_;
  }
  // The first `count` bytes of the room are now part of the buffer.
  void Commit(size_t count) { size_ += count; }
  void Append(std::string_view bytes) {
    std::copy(bytes.begin(), bytes.end(), Extend(bytes.size()));
    size_ += bytes.size();
  }
  // Keeps the first `count` bytes.
  void Truncate(size_t count) { size_ = count; }
  void Clear() { size_ = 0; }
  // Drops the first `count` bytes.
  void EraseFront(size_t count);

  const char* data() const { return data_.get(); }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return std::string_view(data_.get(), size_); }

 private:
  void Grow(size_t count);

  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Where a streamed line goes, piece by piece.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(std::string_view bytes) = 0;
};

// The string of a report line when it is too long to be held whole (a run of a gigabyte): its
// length, and its bytes produced in order, in pieces of bounded size.
class LongText {
 public:
  virtual ~LongText() = default;
  virtual uint64_t size() const = 0;
  // Writes the text's first `count` bytes (count <= size()) to `sink`.
  virtual void WriteTo(uint64_t count, ByteSink& sink) const = 0;
};

// One line of a batch written in place: the position it reports, and its string of `text_size`
// bytes, which a TextSource reads from where `text` points.
struct InPlaceLine {
  int64_t position;
  uint64_t text_size;
  const void* text;
};

// Where the strings of lines written in place come from (decoded from a file, or copied).
class TextSource {
 public:
  virtual ~TextSource() = default;
  // Writes the first `count` bytes of the string at `text` (an InPlaceLine's) at `to`.
  virtual void Copy(const void* text, char* to, uint64_t count) const = 0;
};

}  // namespace veskor
