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
    kUnavailable,    // no lock can be had there (no folder, no lock file that this user may open
                     // or make, a file system without locks)
  };

  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Takes the lock of the folder (ending with "/") without waiting: an exclusive flock on its
  // lock file, which is made when missing (readable by every user, in the folder's group) and
  // left in place afterwards (removing it would let two processes lock two different files).
  // kUnavailable where the lock file can be neither made nor opened: no other lock would be
  // the one the folder's other users take.
  Outcome TryTake(const std::string& dir);

  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace veskor
