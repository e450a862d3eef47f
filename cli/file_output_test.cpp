// Files finished in any order, written in the batch's order.
#include "cli/file_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

namespace veskor {
namespace {

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

TEST(OrderedOutput, WritesEachFileInItsTurnWhateverOrderTheyFinishIn) {
  Captured captured;
  {
    OrderedOutput batch;
    FileOutput& a = batch.Open();
    FileOutput& b = batch.Open();
    FileOutput& c = batch.Open();
    bool a_finished = false;
    bool made_after_a = false;
    EXPECT_TRUE(b.Out("b1 "));
    EXPECT_TRUE(b.OutInTurn([&] {
      made_after_a = a_finished;
      return std::string("made ");
    }));
    b.Err("b's message");
    EXPECT_TRUE(c.Out("c "));
    batch.Finish(c);
    EXPECT_TRUE(a.Out("a "));
    a.Err("a's message");
    EXPECT_EQ(captured.Out(), "a ");  // the first file writes through
    a_finished = true;
    batch.Finish(a);
    EXPECT_TRUE(made_after_a);
    EXPECT_TRUE(b.Out("b2 "));
    batch.Finish(b);
  }
  EXPECT_EQ(captured.Out(), "a b1 made b2 c ");
  EXPECT_EQ(captured.Err(), "a's message\nb's message\n");
}

TEST(OrderedOutput, AFileOverTheHeldLimitWaitsForItsTurnAndALastFileEndsTheBatch) {
  Captured captured;
  {
    OrderedOutput batch(/*held_limit=*/4);
    FileOutput& a = batch.Open();
    FileOutput& b = batch.Open();
    FileOutput& c = batch.Open();
    EXPECT_TRUE(c.Out("c"));
    std::thread second([&] {
      EXPECT_TRUE(b.Out("0123456789"));  // waits until `a` is done
      batch.Finish(b, /*last=*/true);
    });
    EXPECT_TRUE(a.Out("a "));
    batch.Finish(a);
    second.join();
    EXPECT_FALSE(c.Out("more"));
    batch.Finish(c);
  }
  EXPECT_EQ(captured.Out(), "a 0123456789");
}

}  // namespace
}  // namespace veskor
