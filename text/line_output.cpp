// The line buffer's growth and its dropping of written bytes.
#include "text/line_output.h"

namespace veskor {

void LineBuffer::Grow(size_t count) {
  const size_t capacity = std::max(size_ + count, 2 * capacity_ + 64);
  std::unique_ptr<char[]> data(new char[capacity]);
  std::copy(data_.get(), data_.get() + size_, data.get());
  data_ = std::move(data);
  capacity_ = capacity;
}

void LineBuffer::EraseFront(size_t count) {
  std::copy(data_.get() + count, data_.get() + size_, data_.get());
  size_ -= count;
}

}  // namespace veskor
