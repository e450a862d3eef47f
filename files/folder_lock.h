// FolderLock: one process at a time in a folder of program files, by an advisory lock that the
// kernel drops when the holder ends, however it ends.
#pragma once

#include <string>

namespace veskor {

// The name of the lock file in a folder of program files.
inline constexpr const char* kFolderLockFileName = ".veskor.lock";

class FolderLock {
 public:
  enum class Outcome {
    kTaken,          // this object holds the folder until it is destroyed
    kHeldElsewhere,  // another process, or another FolderLock of this one, holds it
    kUnavailable,    // no lock can be made there (no folder, or a file system without locks)
  };

  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Takes the lock of the folder (ending with "/") without waiting: an exclusive flock on its
  // lock file, which is made when missing and left in place afterwards (removing it would let
  // two processes lock two different files). Where the folder cannot be written and holds no
  // lock file, the folder itself is locked instead, so that read-only folders are claimed too.
  Outcome TryTake(const std::string& dir);

  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace veskor
