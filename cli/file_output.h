// Where the output of one file of a batch goes: straight to standard output and error, or, for
// files scanned side by side, into each file's place in the batch's order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace veskor {

class FileOutput {
 public:
  virtual ~FileOutput() = default;
  // Standard output, whole; false, with errno set, when it cannot be written (the reader is
  // gone).
  virtual bool Out(std::string_view bytes) = 0;
  // Standard output made when the file's turn comes, after everything before it is written: for
  // what depends on the files before it (the names of a batch's YARA rules).
  virtual bool OutInTurn(const std::function<std::string()>& make) = 0;
  // A line for standard error, without its LF.
  virtual void Err(const std::string& line) = 0;
  // True when the file has the terminal to itself, so that a progress bar may be drawn.
  virtual bool Alone() const = 0;
};

// The process's standard output and error, written at once.
class DirectOutput : public FileOutput {
 public:
  bool Out(std::string_view bytes) override;
  bool OutInTurn(const std::function<std::string()>& make) override { return Out(make()); }
  void Err(const std::string& line) override;
  bool Alone() const override { return true; }
};

// The files of a batch in the order they were opened, from workers that finish them in any
// order. The first file not yet finished writes through; every later one is held until its turn.
// A file whose output would take the held bytes past `held_limit` waits for its turn instead, so
// that a file with millions of lines behind a slow one costs no memory.
class OrderedOutput {
 public:
  explicit OrderedOutput(size_t held_limit = size_t{64} << 20);
  ~OrderedOutput();

  // The next file's output; called in the batch's order, by one thread.
  FileOutput& Open();
  // The file is done with `output`: its held output follows in its turn. The output is not used
  // after this call. With `last`, the batch ends with this file: the files after it write nothing.
  void Finish(FileOutput& output, bool last = false);
  // True once standard output could not be written.
  bool Broken();

 private:
  class Slot;
  friend class Slot;

  // With mutex_ held: standard output, or false (errno set) once it could not be written.
  bool WriteOut(std::string_view bytes);
  // With mutex_ held: writes the pieces of the slots whose turn has come.
  void WriteTurns();

  const size_t held_limit_;
  std::mutex mutex_;
  std::condition_variable turn_;
  std::deque<std::unique_ptr<Slot>> slots_;  // the first is the one that writes through
  size_t held_ = 0;
  bool broken_ = false;
  bool closed_ = false;  // a last file has been written
  int broken_errno_ = 0;
};

}  // namespace veskor
