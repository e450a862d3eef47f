// The one check that every read of a run's input after the run goes through: whether the file
// at its name is still the file the run read, and if not, what tells them apart.
#pragma once

#include <string>

#include "engine/input/mapped_input.h"
#include "text/error.h"

namespace veskor {

// What differs between the stamp of the file a run read and the stamp of the file now at its
// name.
struct StampChange {
  bool gone = false;        // no regular file with bytes has the name now
  bool other_file = false;  // another file (device and inode) has the name
  bool size = false;
  bool modified = false;  // the modification time
  bool changed = false;   // the change time: a write, or a change of the file's attributes
  bool content = false;   // the sampled blocks
  bool any() const { return gone || other_file || size || modified || changed || content; }
};

StampChange CompareStamps(const FileStamp& run, const FileStamp& now);

// Raised by a read of a run's input that finds the file changed: what is read no longer belongs
// to the run, and whatever it was read for ends without it.
class InputChangedError : public Error {
 public:
  explicit InputChangedError(const StampChange& change)
      : Error("The input file has changed since the run"), change_(change) {}
  const StampChange& change() const { return change_; }

 private:
  StampChange change_;
};

// What differs after a read of the mapping faulted (InputReadError: the file shrank under it):
// the file now at `path` against the run's stamp, and its content when nothing else tells.
StampChange ChangeAfterFault(const std::string& path, const FileStamp& run);

// Raises InputChangedError unless the file now at `path` has the stamp `run`. Called before and
// after each slice that a later read takes from the input: a slice read while the file changed
// is caught by the check after it.
void CheckInput(const std::string& path, const FileStamp& run);

}  // namespace veskor
