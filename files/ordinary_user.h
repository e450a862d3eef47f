// Test helper: runs a test's body where file permissions apply, also when the tests run as root.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace veskor::test {

// An ordinary user runs `body` directly. Root runs it in a child process that has become the
// user and group 65534 (nobody), where a folder without write permission cannot be written; a
// failure there fails the calling test. Folders that the body uses must be open to that user.
inline void AsOrdinaryUser(const std::function<void()>& body) {
  if (::geteuid() != 0) {
    body();
    return;
  }
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    body();
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the body failed as an ordinary user (status " << status << ")";
}

}  // namespace veskor::test
