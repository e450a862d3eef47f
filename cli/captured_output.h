// Standard output and error of the process caught in files while a test of the runner's output
// lasts.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace veskor {

// Standard output and error into files for the test's life.
class Captured {
 public:
  Captured() : out_(Redirect(STDOUT_FILENO, out_path_)), err_(Redirect(STDERR_FILENO, err_path_)) {}
  ~Captured() {
    Restore();
    std::remove(out_path_);
    std::remove(err_path_);
  }
  std::string Out() { return Read(out_path_); }
  std::string Err() { return Read(err_path_); }

 private:
  static int Redirect(int fd, char* path) {
    std::fflush(nullptr);
    const int saved = ::dup(fd);
    const int file = ::mkstemp(path);
    ::dup2(file, fd);
    ::close(file);
    return saved;
  }
  void Restore() {
    std::fflush(nullptr);
    ::dup2(out_, STDOUT_FILENO);
    ::dup2(err_, STDERR_FILENO);
    ::close(out_);
    ::close(err_);
  }
  static std::string Read(const char* path) {
    std::fflush(nullptr);
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  char out_path_[32] = "/tmp/veskor_outXXXXXX";
  char err_path_[32] = "/tmp/veskor_errXXXXXX";
  int out_;
  int err_;
};

}  // namespace veskor
