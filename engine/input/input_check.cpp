// Stamps compared field by field, and the check before and after a slice.
#include "engine/input/input_check.h"

namespace veskor {

StampChange CompareStamps(const FileStamp& run, const FileStamp& now) {
  StampChange change;
  if (run == now) return change;
  // StampOf gives the empty stamp when nothing it could stamp has the name.
  if (now == FileStamp{}) {
    change.gone = true;
  } else if (now.device != run.device || now.inode != run.inode) {
    change.other_file = true;
  } else {
    change.size = now.size != run.size;
    change.modified = now.modified != run.modified;
    change.changed = now.changed != run.changed;
    change.content = now.sample != run.sample;
  }
  return change;
}

StampChange ChangeAfterFault(const std::string& path, const FileStamp& run) {
  StampChange change = CompareStamps(run, StampOf(path));
  if (!change.any()) change.content = true;
  return change;
}

void CheckInput(const std::string& path, const FileStamp& run) {
  const StampChange change = CompareStamps(run, StampOf(path));
  if (change.any()) throw InputChangedError(change);
}

}  // namespace veskor
