// Standard output and error for one file, at once or in the batch's order.
#include "cli/file_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace veskor {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void WriteErr(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

}  // namespace

bool DirectOutput::Out(std::string_view bytes) { return WriteAll(STDOUT_FILENO, bytes); }

void DirectOutput::Err(const std::string& line) { WriteErr(line); }

class OrderedOutput::Slot : public FileOutput {
 public:
  explicit Slot(OrderedOutput& owner) : owner_(owner) {}

  bool Out(std::string_view bytes) override {
    std::unique_lock lock(owner_.mutex_);
    if (!InTurn() && owner_.held_ + bytes.size() > owner_.held_limit_) {
      owner_.turn_.wait(lock, [&] { return InTurn() || owner_.broken_; });
    }
    if (owner_.closed_) return Dropped();
    if (!InTurn()) {
      if (owner_.broken_) return Broken();
      pieces_.push_back({false, std::string(bytes), {}});
      owner_.held_ += bytes.size();
      return true;
    }
    return owner_.WriteOut(bytes);
  }

  bool OutInTurn(const std::function<std::string()>& make) override {
    std::lock_guard lock(owner_.mutex_);
    if (owner_.closed_) return Dropped();
    if (owner_.broken_) return Broken();
    if (InTurn()) return owner_.WriteOut(make());
    pieces_.push_back({false, {}, make});
    return true;
  }

  void Err(const std::string& line) override {
    std::lock_guard lock(owner_.mutex_);
    if (owner_.closed_) return;
    if (InTurn()) {
      WriteErr(line);
      return;
    }
    pieces_.push_back({true, line, {}});
    owner_.held_ += line.size();
  }

  bool Alone() const override { return false; }

 private:
  friend class OrderedOutput;
  struct Piece {
    bool err;
    std::string bytes;
    std::function<std::string()> make;  // in place of the bytes, made in turn
  };

  bool InTurn() const { return owner_.slots_.front().get() == this; }
  bool Broken() const {
    errno = owner_.broken_errno_;
    return false;
  }
  // A file after the batch's last one: its output goes nowhere, and it may as well end.
  static bool Dropped() {
    errno = EPIPE;
    return false;
  }

  OrderedOutput& owner_;
  std::vector<Piece> pieces_;
  bool finished_ = false;
  bool last_ = false;
};

OrderedOutput::OrderedOutput(size_t held_limit) : held_limit_(held_limit) {}

OrderedOutput::~OrderedOutput() = default;

FileOutput& OrderedOutput::Open() {
  std::lock_guard lock(mutex_);
  slots_.push_back(std::make_unique<Slot>(*this));
  return *slots_.back();
}

void OrderedOutput::Finish(FileOutput& output, bool last) {
  std::lock_guard lock(mutex_);
  static_cast<Slot&>(output).finished_ = true;
  static_cast<Slot&>(output).last_ = last;
  WriteTurns();
}

bool OrderedOutput::Broken() {
  std::lock_guard lock(mutex_);
  return broken_;
}

bool OrderedOutput::WriteOut(std::string_view bytes) {
  if (broken_) {
    errno = broken_errno_;
    return false;
  }
  if (WriteAll(STDOUT_FILENO, bytes)) return true;
  broken_ = true;
  broken_errno_ = errno;
  turn_.notify_all();
  return false;
}

void OrderedOutput::WriteTurns() {
  bool moved = false;
  while (!slots_.empty()) {
    Slot& front = *slots_.front();
    for (Slot::Piece& piece : front.pieces_) {
      held_ -= piece.bytes.size();
      if (closed_) continue;
      if (piece.err) {
        WriteErr(piece.bytes);
      } else if (piece.make) {
        WriteOut(piece.make());
      } else {
        WriteOut(piece.bytes);
      }
    }
    front.pieces_.clear();
    if (!front.finished_) break;
    if (front.last_) closed_ = true;
    slots_.pop_front();
    moved = true;
  }
  if (moved) turn_.notify_all();
}

}  // namespace veskor
