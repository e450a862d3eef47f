// A task's log: created or truncated, never through a symbolic link, written through a large
// buffer (the bytes on disk are the same as with a small one), every line ended by CR LF.
#pragma once

#include <string>
#include <string_view>

namespace veskor {

// Where the run writes a row's lines; the runner's --stdout supplies its own.
class LogSink {
 public:
  virtual ~LogSink() = default;
  // Appends the line and CR LF. May raise IoError.
  virtual void WriteLine(std::string_view line) = 0;
  // Writes out what is buffered and ends the log. May raise IoError.
  virtual void Close() = 0;
};

class LogFile : public LogSink {
 public:
  // Creates the file, or truncates it when it exists; raises IoError on failure.
  explicit LogFile(const std::string& path);
  ~LogFile() override;  // closes quietly when Close was not called (an error ended the run)
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void WriteLine(std::string_view line) override;
  void Close() override;

 private:
  void Flush();

  int fd_ = -1;
  std::string buffer_;
};

// Writes every byte of data to fd, retrying after interruptions; raises IoError.
void WriteAll(int fd, const char* data, size_t size);

}  // namespace veskor
