// Guarded reads of the mapped input. A file that shrinks while it is mapped makes the kernel
// raise SIGBUS on the pages past its new end; inside a guard that fault returns false instead
// of killing the process.
#pragma once

#include <csetjmp>

namespace veskor {
namespace fault_guard_detail {

struct Frame {
  sigjmp_buf env;
  Frame* previous;
};
extern thread_local Frame* current;
void InstallHandler();

}  // namespace fault_guard_detail

// Runs `body` and returns true, or returns false when a read of a mapping inside it faulted.
// `body` must keep no object with a non-trivial destructor on its own frames and throw nothing:
// a fault abandons those frames without unwinding them. Objects outside may be changed (a
// vector appended to), since a fault happens only at a read of the mapping, never halfway
// through such a change.
template <class Body>
bool ReadMapped(Body&& body) {
  namespace d = fault_guard_detail;
  d::InstallHandler();
  d::Frame frame;
  frame.previous = d::current;
  if (sigsetjmp(frame.env, 0) != 0) {
    d::current = frame.previous;
    return false;
  }
  d::current = &frame;
  body();
  d::current = frame.previous;
  return true;
}

}  // namespace veskor
