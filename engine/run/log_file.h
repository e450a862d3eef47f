// A task's log: written under a temporary name in its folder and put in place when its row
// ends, never through a symbolic link, through a large buffer (the bytes on disk are the same
// as with a small one).
#pragma once

#include <string>
#include <string_view>

#include "text/line_output.h"

namespace veskor {

// Where the run writes a row's lines (each followed by CR LF); the runner's --stdout supplies
// its own.
class LogSink : public ByteSink {
 public:
  // Appends bytes. May raise IoError.
  void Write(std::string_view bytes) override = 0;
  // The row has ended (done, stopped, or its input could not be read): writes out what is
  // buffered and ends the log. May raise IoError. A sink destroyed without Close was ended by
  // an error.
  virtual void Close() = 0;
};

// The log file of one row. Its lines go to a new file beside the log's name (".NAME.XXXXXX",
// created exclusively, so it never follows a link and never blocks on a FIFO), which Close
// renames over the name: another hard link to the old log, even the input file itself, keeps its
// bytes, and a run that an error ends leaves the earlier log whole (the temporary file is
// removed). The file is locked (flock) while it is written, and a new log of the name removes the
// unlocked ones, which killed runs left.
// Bytes on their way to a file descriptor: short pieces gather in a buffer of a megabyte; a piece
// of a quarter of that or more (a run's chunk of lines) goes out straight after what waits, with
// no copy. Write and Flush answer false, with errno set, when a write failed; what waited then
// stays.
class WriteBuffer {
 public:
  WriteBuffer() { buffer_.reserve(kBytes); }
  bool Write(int fd, std::string_view bytes);
  bool Flush(int fd);

 private:
  static constexpr size_t kBytes = size_t{1} << 20;
  std::string buffer_;
};

class LogFile : public LogSink {
 public:
  // Refuses a symbolic link or any other entry that is not a regular file at `path` ("File access
  // denied"; a folder gives its own I/O error) and creates the temporary file; raises IoError.
  explicit LogFile(const std::string& path);
  ~LogFile() override;  // removes the temporary file when Close was not called
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void Write(std::string_view bytes) override;
  // Writes out the buffer and renames the file over the log's name.
  void Close() override;

 private:
  void Flush();
  void Discard();
  [[noreturn]] void Fail(int error_number) const;

  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  WriteBuffer buffer_;
};

}  // namespace veskor
