// The files of a batch: the names given, folders walked, and the names read from a list.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace veskor {

// Why a name of the batch is not scanned; the runner's own texts.
inline constexpr const char* kFolderLinkMessage = "a symbolic link to a folder: not followed";
inline constexpr const char* kFifoMessage = "a FIFO: not scanned";
inline constexpr const char* kSocketMessage = "a socket: not scanned";
inline constexpr const char* kDeviceMessage = "a device: not scanned";
inline constexpr const char* kTooLargeMessage = "larger than --max-size";
inline constexpr const char* kStoppedMessage = "stopped";
inline constexpr const char* kTimeoutMessage = "longer than --timeout: stopped";
inline constexpr const char* kChangedMessage = "the file changed while it was scanned";

// One name of the batch, in the order the batch reports it.
struct BatchEntry {
  // kScan: handed to the run, which says why when it cannot be read.
  enum class Kind { kScan, kSkipped, kError };
  std::string path;  // file-system bytes
  Kind kind = Kind::kScan;
  std::string message;  // UTF-8, for kSkipped and kError
  uint64_t size = 0;    // when known
  std::string reason;   // the system's reason for kError (strerror), when it gave one
};

// Hands every name to `visit` in order: a folder with `recursive` as its entries in byte order
// of their names (folders walked in place, symbolic links to folders not followed, anything but
// a regular file skipped). Any other name given, a folder without `recursive` among them, is
// taken as it is and left to the run, which says why it cannot be read. `visit` returns false to
// end the walk.
void WalkBatch(const std::vector<std::string>& names, bool recursive,
               const std::function<bool(const BatchEntry&)>& visit);

// The names of a list read from `in` into `names`: one a line (LF), or each ended by NUL with
// `null_separated`; empty names are left out. kTooLong at the first name longer than PATH_MAX
// bytes, which no path can be: a list that is no list of names (/dev/zero) is refused there,
// never read whole.
enum class NameList { kRead, kTooLong, kCannotRead };
NameList ReadNameList(std::istream& in, bool null_separated, std::vector<std::string>& names);

}  // namespace veskor
